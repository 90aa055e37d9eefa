// The page of korvex deps, drawn from the document alone. The tree puts each
// module under each module in its imported_by (an importer the document does
// not list as a module is the program) and shows each module once with what it
// imports, where it is nearest the program (breadth first, unlike the printed
// tree: in a tree that opens on clicks, a module is looked for near the top).
// Its other mentions say where it is opened. A branch that holds a module
// missing or lacking a function opens by itself and says so. Every fact the document gives of a module or program is a badge, each
// explained in the legend: the ones this page knows in its own words, any
// other field as the document names it, so that a fact korvex learns to
// report shows here before the page learns of it.
/* global korvex -- report.js, which runs first in the same script */
(() => {
    const {data, h, fold, count, setCounts, marked, tree, table, searchBox} = korvex;
    const limitedNotes = 3;
    const roots = data.roots;
    const functionName = (f) => (typeof f.function === 'number' ? '#' + f.function : f.function);
    const vias = new Map([
        ['program', ['program folder', "found in the program's own folder"]],
        ['search', ['search folder', 'found in a --search folder']],
        ['system', ['system folder', 'found in the system folder']],
        ['PATH', ['PATH', 'found in a folder of PATH']],
        ['api-set', ['API set', "a name the system's API-set schema maps to a host DLL"]],
    ]);
    const viaText = (via) => (via === null ? '' : (vias.get(via)?.[0] ?? 'host of ' + via));

    // The legend: every badge the page may show, by its key, with the badge
    // as it looks and what it means, in the order first met. Each badge is
    // a note made from the document before anything is drawn, so the legend
    // holds the badges of rows not drawn yet.
    const legend = new Map();
    const note = (key, text, meaning, extra = '', detail = '') => {
        if (!legend.has(key)) legend.set(key, {key, text, meaning, extra});
        return {key, text, meaning, extra, detail};
    };
    const badge = (n) => [
        h(
            'span',
            {class: n.extra ? 'badge ' + n.extra : 'badge', title: n.meaning, 'data-legend': n.key},
            n.text,
        ),
        n.detail && h('span', {class: 'note'}, n.detail),
    ];
    const shown = (value) =>
        value !== null &&
        value !== undefined &&
        value !== false &&
        value !== '' &&
        !(typeof value === 'object' && Object.keys(value).length === 0);
    // A field's value as words: texts as they are, lists and records spelled
    // out, a list by its first few and a count, three levels deep at most.
    function spelled(value, depth = 0) {
        if (typeof value === 'object' && depth === 3) return '\u2026';
        if (Array.isArray(value)) {
            const few = value
                .slice(0, limitedNotes)
                .map((v) => spelled(v, depth + 1))
                .join(', ');
            return value.length > limitedNotes
                ? `${few}, +${value.length - limitedNotes} more`
                : few;
        }
        if (typeof value === 'object')
            return Object.entries(value)
                .filter(([, v]) => shown(v))
                .map(([k, v]) => (v === true ? k : `${k} ${spelled(v, depth + 1)}`))
                .join(', ');
        return String(value);
    }
    // The fields of `record` this page does not draw in its own way, each a
    // badge named as the document names it.
    const otherNotes = (record, drawn) =>
        Object.entries(record)
            .filter(([field, value]) => !drawn.has(field) && shown(value))
            .map(([field, value]) => {
                const words = field.replace(/_/g, ' ');
                return note(
                    'field:' + field,
                    value === true ? words : `${words}: ${spelled(value)}`,
                    `"${field}" in the --json document`,
                    'other',
                );
            });
    const moduleFields = new Set(
        'name path system not_windows wine_build via machine delay imported_by host optional'.split(
            ' ',
        ),
    );
    const rootFields = new Set(
        'file path machine error no_system_folder modules missing_modules missing_functions skipped'.split(
            ' ',
        ),
    );
    const machineNote = (machine) =>
        note('machine:' + machine, machine, 'the machine the file is built for');
    const delayNote = () =>
        note(
            'delay',
            'delay-load',
            'reached only through delay-load imports: missing, a failure only with --delay',
            'delay',
        );
    const belowNote = () =>
        note(
            'below',
            'problem below',
            'a module below is missing or lacks a function: opened to show it',
            'bad',
        );
    // The badges of module `i` of `graph`, in the order the text tree gives
    // its notes.
    function moduleNotes(graph, i) {
        const m = graph.modules[i];
        const notes = [];
        if (m.via !== null)
            notes.push(
                vias.has(m.via)
                    ? note('via:' + m.via, ...vias.get(m.via))
                    : note(
                          'via:host',
                          viaText(m.via),
                          'the host DLL of the API set named, found as any other module',
                      ),
            );
        if (m.machine !== null) notes.push(machineNote(m.machine));
        if (m.system)
            notes.push(
                note('system', 'system', "a DLL of Windows' own, found in the system folder"),
            );
        if (m.not_windows && m.wine_build)
            notes.push(
                note(
                    'wine_build',
                    "system folder: Wine's own build; Windows does not ship it",
                    "Wine's own build, found in the system folder: not what the program's " +
                        "vendor ships (deps --copy-to refuses it: the vendor's redistributable, " +
                        'or --search FOLDER, is needed)',
                    'bad',
                ),
            );
        else if (m.not_windows)
            notes.push(
                note(
                    'not_windows',
                    'system folder: Wine ships it; Windows does not',
                    'found in the system folder, but Windows does not ship it: the program ' +
                        'must bring it (deps --copy-to bundles it)',
                    'warn',
                ),
            );
        if (m.delay) notes.push(delayNote());
        notes.push(...otherNotes(m, moduleFields));
        const skipped = graph.skippedOf.get(i);
        if (skipped)
            notes.push(
                note(
                    'skipped',
                    'skipped',
                    'a file of this name was found but not taken (damaged, or for another ' +
                        'machine): see "Files found but not taken"',
                    'warn',
                    spelled(skipped.map((s) => s.reason)),
                ),
            );
        return notes;
    }
    function rootNotes(graph) {
        const root = graph.root;
        const notes = [];
        if (root.machine !== null) notes.push(machineNote(root.machine));
        if (shown(root.no_system_folder))
            notes.push(
                note(
                    'no_system_folder',
                    'no system folder',
                    'no module could come from a system folder: the DLLs of Windows are missing',
                    'bad',
                    `note: ${root.no_system_folder}: every DLL of Windows is missing below`,
                ),
            );
        notes.push(...otherNotes(root, rootFields));
        if (graph.tree.below) notes.push(belowNote());
        return notes;
    }

    // One program's graph, prepared once: the children of each module (-1:
    // the program), its missing functions, the missing names, and the tree.
    function prepare(root) {
        const modules = root.modules || [];
        const byName = new Map(modules.map((m, i) => [m.name, i]));
        const byFolded = new Map(modules.map((m, i) => [fold(m.name), i]));
        const children = new Map([[-1, []]]);
        modules.forEach((m, i) => {
            children.set(i, children.get(i) || []);
            const parents = new Set(m.imported_by.map((name) => byName.get(name) ?? -1));
            for (const parent of parents) {
                if (parent === i) continue;
                if (!children.has(parent)) children.set(parent, []);
                children.get(parent).push(i);
            }
        });
        // A function is shown under the module it is missing from, as the
        // importer names that module.
        const functions = new Map();
        for (const f of root.missing_functions || []) {
            const at = byFolded.get(fold(f.module)) ?? byFolded.get(fold(f.module) + '.dll') ?? -1;
            if (!functions.has(at)) functions.set(at, []);
            functions.get(at).push(f);
        }
        const tree = {module: -1, children: [], again: false};
        const openedUnder = new Map();
        const queue = [tree];
        for (let next = 0; next < queue.length; ++next) {
            const parent = queue[next];
            for (const i of children.get(parent.module)) {
                const node = {module: i, children: [], again: openedUnder.has(i)};
                parent.children.push(node);
                if (node.again) continue;
                openedUnder.set(i, parent.module);
                queue.push(node);
            }
        }
        const missing = new Set((root.missing_modules || []).map((m) => m.module));
        const skippedOf = new Map();
        for (const s of root.skipped || []) {
            const at = byFolded.get(fold(s.module)) ?? -1;
            if (!skippedOf.has(at)) skippedOf.set(at, []);
            skippedOf.get(at).push(s);
        }
        // Whether a module below a node is missing (a damaged file of its
        // name included, when no other stood in for it) or lacks a function:
        // worked out from the deepest nodes up. A file skipped where another
        // was taken costs the program nothing: its badge says so, no more.
        const troubled = (i) => missing.has(modules[i].name) || functions.has(i);
        for (let next = queue.length - 1; next >= 0; --next)
            queue[next].below = queue[next].children.some(
                (child) => child.below || troubled(child.module),
            );
        return {root, modules, functions, missing, skippedOf, tree, openedUnder};
    }
    const graphs = roots.map(prepare);
    for (const graph of graphs) {
        if (graph.root.error !== undefined) continue;
        graph.notes = graph.modules.map((m, i) => moduleNotes(graph, i));
        graph.rootNotes = rootNotes(graph);
    }

    function moduleLabel(graph, node, query) {
        const m = graph.modules[node.module];
        const label = [h('span', {class: 'name'}, marked(m.name, query))];
        if (node.again) {
            const under = graph.openedUnder.get(node.module);
            return [
                label,
                h(
                    'span',
                    {class: 'note'},
                    `(opened under ${under === -1 ? graph.root.file : graph.modules[under].name})`,
                ),
            ];
        }
        if ('host' in m)
            label.push(h('span', {class: 'note'}, '\u2192 ' + (m.host ?? '(no host)')));
        label.push(
            m.path !== null
                ? h('span', {class: 'path'}, m.path)
                : h('span', {class: 'status'}, m.optional ? 'optional, not present' : 'NOT FOUND'),
            graph.notes[node.module].map(badge),
            node.below && badge(belowNote()),
        );
        return label;
    }
    const functionNode = (f, query) => ({
        className: 'function',
        label: () => [
            h('span', {class: 'name'}, marked(functionName(f), query)),
            h('span', {class: 'status'}, 'missing from ' + f.module),
            h('span', {class: 'note'}, 'imported by ' + f.imported_by),
            f.delay && badge(delayNote()),
        ],
    });

    // With a query, only what matches and the way down to it is kept, open.
    // Worked out children first without recursion: a crafted graph may be a
    // chain thousands of modules deep.
    function matcher(graph, query) {
        const known = new Map();
        const functionsMatch = (i) =>
            (graph.functions.get(i) || []).some((f) => fold(functionName(f)).includes(query));
        const keep = (start) => {
            const stack = [[start, false]];
            while (stack.length) {
                const [node, ready] = stack.pop();
                if (known.has(node)) continue;
                if (!ready) {
                    stack.push([node, true]);
                    for (const child of node.children) stack.push([child, false]);
                    continue;
                }
                // A later mention is no match of its own: the module is found where it is opened.
                known.set(
                    node,
                    !node.again &&
                        (fold(graph.modules[node.module].name).includes(query) ||
                            functionsMatch(node.module) ||
                            node.children.some((c) => known.get(c))),
                );
            }
            return known.get(start);
        };
        return {keep};
    }
    // Items opened for a match or for a problem below stop opening this deep;
    // the rest open on a click.
    const deepestOpened = 64;
    function moduleNode(graph, node, query, match, depth) {
        const m = graph.modules[node.module];
        let below = node.children,
            fns = node.again ? [] : graph.functions.get(node.module) || [];
        if (match) {
            below = below.filter(match.keep);
            fns = fns.filter((f) => fold(functionName(f)).includes(query));
        }
        const lacking = fns.length > 0 || (!node.again && graph.functions.has(node.module));
        const className = graph.missing.has(m.name)
            ? 'missing'
            : lacking
              ? 'lacking'
              : graph.skippedOf.has(node.module)
                ? 'skipped'
                : '';
        return {
            className: [className, node.below && 'holds-trouble'].filter(Boolean).join(' '),
            open: (match !== null || node.below || lacking) && depth < deepestOpened,
            label: () => moduleLabel(graph, node, query),
            children:
                below.length + fns.length > 0
                    ? () =>
                          below
                              .map((child) => moduleNode(graph, child, query, match, depth + 1))
                              .concat(fns.map((f) => functionNode(f, query)))
                    : null,
        };
    }
    function rootNode(graph, query, open) {
        const root = graph.root;
        const name = () => h('span', {class: 'name'}, marked(root.file, query));
        if (root.error !== undefined)
            return !query || fold(root.file).includes(query)
                ? {
                      className: 'missing',
                      label: () => [name(), h('span', {class: 'status'}, root.error)],
                  }
                : null;
        const match = query && !fold(root.file).includes(query) ? matcher(graph, query) : null;
        const top = match ? graph.tree.children.filter(match.keep) : graph.tree.children;
        const fns = (graph.functions.get(-1) || []).filter(
            (f) => !match || fold(functionName(f)).includes(query),
        );
        if (match && top.length + fns.length === 0) return null;
        const lacking = graph.functions.has(-1);
        return {
            className: ['root', lacking && 'lacking', graph.tree.below && 'holds-trouble']
                .filter(Boolean)
                .join(' '),
            open: open || match !== null || graph.tree.below || lacking,
            label: () => [
                name(),
                h('span', {class: 'path'}, root.path),
                graph.rootNotes.map(badge),
            ],
            children:
                top.length + fns.length > 0
                    ? () =>
                          top
                              .map((node) => moduleNode(graph, node, query, match, 1))
                              .concat(fns.map((f) => functionNode(f, query)))
                    : null,
        };
    }

    const dependencyTree = tree('Dependency tree');
    const treeEmpty = h('p', {class: 'empty', hidden: true}, 'Nothing matches.');
    function drawTree(query) {
        const items = [];
        for (const graph of graphs) {
            const item = rootNode(graph, query, roots.length <= 20);
            if (item) items.push(item);
        }
        dependencyTree.show(items);
        dependencyTree.element.hidden = items.length === 0;
        treeEmpty.hidden = items.length > 0;
    }

    // The program's column only where there are several.
    const program =
        roots.length > 1 ? {label: 'Program', value: (row) => row.graph.root.file} : null;
    const delayColumn = {
        label: 'Delay-load',
        value: (row) => ((row.m || row.f).delay ? 'yes' : ''),
    };
    const rows = graphs.flatMap((graph) => graph.modules.map((m, i) => ({graph, m, i})));
    const modulesTable = table(
        [
            {label: 'Module', value: (row) => row.m.name},
            {
                label: 'Path',
                wide: true,
                value: (row) => row.m.path,
                cell: (row) =>
                    row.m.path !== null
                        ? h('span', {class: 'path'}, row.m.path)
                        : row.m.optional
                          ? 'optional, not present'
                          : 'NOT FOUND',
            },
            {label: 'Found in', value: (row) => viaText(row.m.via)},
            {label: 'Machine', value: (row) => row.m.machine},
            delayColumn,
            // The badges the columns beside it do not give.
            {
                label: 'Notes',
                value: (row) =>
                    row.graph.notes[row.i]
                        .filter((n) => !/^(via|machine):|^delay$/.test(n.key))
                        .map((n) => n.text)
                        .join('; '),
            },
            {
                label: 'Imported by',
                list: (row) => row.m.imported_by,
                value: (row) => row.m.imported_by.join(', '),
            },
            program,
        ].filter(Boolean),
        rows,
        {rowClass: (row) => (row.graph.missing.has(row.m.name) ? 'missing' : null)},
    );

    const failed = roots.filter((root) => root.error !== undefined);
    const missingModules = graphs.flatMap((graph) =>
        (graph.root.missing_modules || []).map((m) => ({graph, m})),
    );
    const missingFunctions = graphs.flatMap((graph) =>
        (graph.root.missing_functions || []).map((f) => ({graph, f})),
    );
    const skipped = graphs.flatMap((graph) => (graph.root.skipped || []).map((s) => ({graph, s})));
    const problemTables = [];
    const problems = h('section', {class: 'problems'});
    function problemTable(title, rowsOf, columns, matches, missing) {
        if (rowsOf.length === 0) return;
        const view = table(columns.filter(Boolean), rowsOf, {
            rowClass: () => (missing ? 'missing' : null),
        });
        problemTables.push({view, matches});
        problems.append(h('h2', null, title), view.element);
    }
    problemTable(
        'Programs not read',
        failed.map((root) => ({root})),
        [
            {label: 'File', value: (row) => row.root.file},
            {label: 'Why', value: (row) => row.root.error},
        ],
        (row, q) => fold(row.root.file).includes(q),
        true,
    );
    problemTable(
        'Missing modules',
        missingModules,
        [
            {label: 'Module', value: (row) => row.m.module},
            {
                label: 'Imported by',
                list: (row) => row.m.imported_by,
                value: (row) => row.m.imported_by.join(', '),
            },
            {label: 'Why', value: (row) => row.m.reason ?? ''},
            delayColumn,
            program,
        ],
        (row, q) => fold(row.m.module).includes(q),
        true,
    );
    problemTable(
        'Missing functions',
        missingFunctions,
        [
            {label: 'Function', value: (row) => functionName(row.f)},
            {label: 'Module', value: (row) => row.f.module},
            {label: 'Imported by', value: (row) => row.f.imported_by},
            delayColumn,
            program,
        ],
        (row, q) => fold(functionName(row.f)).includes(q) || fold(row.f.module).includes(q),
        true,
    );
    problemTable(
        'Files found but not taken',
        skipped,
        [
            {label: 'Module', value: (row) => row.s.module},
            {
                label: 'Path',
                wide: true,
                value: (row) => row.s.path,
                cell: (row) => h('span', {class: 'path'}, row.s.path),
            },
            {label: 'Why', value: (row) => row.s.reason},
            program,
        ],
        (row, q) => fold(row.s.module).includes(q),
        false,
    );

    function search(query) {
        drawTree(query);
        modulesTable.setFilter(
            query
                ? (row) =>
                      fold(row.m.name).includes(query) ||
                      (row.graph.functions.get(row.i) || []).some((f) =>
                          fold(functionName(f)).includes(query),
                      )
                : null,
        );
        for (const {view, matches} of problemTables)
            view.setFilter(query ? (row) => matches(row, query) : null);
    }

    setCounts(
        [
            count(roots.length, 'program', 'programs') +
                (failed.length ? ` (${failed.length} not read)` : ''),
            count(rows.length, 'module', 'modules'),
            count(missingModules.length, 'missing module', 'missing modules'),
            count(missingFunctions.length, 'missing function', 'missing functions'),
            count(skipped.length, 'file skipped', 'files skipped'),
        ].join(', '),
    );
    document.title =
        'korvex deps: ' +
        (roots.length === 1 ? roots[0].file : count(roots.length, 'program', 'programs'));
    const tools = h(
        'div',
        {class: 'tools'},
        searchBox('Filter by module or function name', search),
        h(
            'button',
            {type: 'button', id: 'open-all', click: () => dependencyTree.setAllOpen(true)},
            'Open all',
        ),
        h(
            'button',
            {type: 'button', id: 'close-all', click: () => dependencyTree.setAllOpen(false)},
            'Close all',
        ),
    );
    drawTree('');
    // Marks of whole rows first, then every badge met in the document.
    const legendView = h(
        'details',
        {id: 'legend', open: true},
        h('summary', null, 'Legend'),
        h(
            'dl',
            null,
            [
                ['missing', 'NOT FOUND', 'a module found nowhere; its importers are listed above'],
                [
                    'lacking',
                    'name',
                    'a module that lacks functions imported from it, listed below it',
                ],
                ['skipped', 'name', 'a module that had a file skipped (see the badge)'],
                ...[...legend.values()].map((n) => [null, n, n.meaning]),
            ].map(([row, n, meaning]) =>
                h(
                    'div',
                    null,
                    h(
                        'dt',
                        row ? {class: 'row-' + row} : {'data-legend': n.key},
                        row ? n : badge(n),
                    ),
                    h('dd', null, meaning),
                ),
            ),
        ),
    );
    document
        .getElementById('report')
        .append(
            tools,
            problems,
            h(
                'div',
                {class: 'views'},
                h(
                    'section',
                    {id: 'tree-view'},
                    h('h2', null, 'Dependency tree'),
                    dependencyTree.element,
                    treeEmpty,
                ),
                h(
                    'section',
                    {id: 'table-view'},
                    h('h2', null, 'Every module'),
                    modulesTable.element,
                ),
            ),
            legendView,
        );
})();
