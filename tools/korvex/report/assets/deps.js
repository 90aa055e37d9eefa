// The page of korvex deps, drawn from the document alone. The tree puts each
// module under each module in its imported_by (an importer the document does
// not list as a module is the program) and shows each module once with what it
// imports, where it is nearest the program (breadth first, unlike the printed
// tree: in a tree that opens on clicks, a module is looked for near the top).
// Its other mentions say where it is opened.
/* global korvex -- report.js, which runs first in the same script */
(() => {
    const {data, h, fold, count, setCounts, marked, tree, table, searchBox} = korvex;
    const roots = data.roots;
    const functionName = (f) => (typeof f.function === 'number' ? '#' + f.function : f.function);
    const vias = new Map([
        ['program', 'program folder'],
        ['search', 'search folder'],
        ['system', 'system folder'],
        ['PATH', 'PATH'],
        ['api-set', 'API set'],
        ['side-by-side', 'side-by-side assembly'],
    ]);
    const viaText = (via) => (via === null ? '' : (vias.get(via) ?? 'host of ' + via));

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
        return {root, modules, functions, missing, tree, openedUnder};
    }
    const graphs = roots.map(prepare);

    const badge = (text, extra) => h('span', {class: extra ? 'badge ' + extra : 'badge'}, text);
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
        );
        if (m.via !== null) label.push(badge(viaText(m.via)));
        if (m.machine !== null) label.push(badge(m.machine));
        if (m.side_by_side) label.push(badge('side-by-side: ' + m.side_by_side));
        if (m.system) label.push(badge('system'));
        if (m.delay) label.push(badge('delay-load', 'delay'));
        return label;
    }
    const functionNode = (f, query) => ({
        className: 'function',
        label: () => [
            h('span', {class: 'name'}, marked(functionName(f), query)),
            h('span', {class: 'status'}, 'missing from ' + f.module),
            h('span', {class: 'note'}, 'imported by ' + f.imported_by),
            f.delay && badge('delay-load', 'delay'),
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
    // Items opened for a match stop opening this deep; the rest open on a click.
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
        const className = graph.missing.has(m.name) ? 'missing' : lacking ? 'lacking' : '';
        return {
            className,
            open: match !== null && depth < deepestOpened,
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
        return {
            className: 'root',
            open: open || match !== null,
            label: () => [
                name(),
                root.machine !== null && badge(root.machine),
                h('span', {class: 'path'}, root.path),
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
            {label: 'Imported by', value: (row) => row.m.imported_by.join(', ')},
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
            {label: 'Imported by', value: (row) => row.m.imported_by.join(', ')},
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
        );
})();
