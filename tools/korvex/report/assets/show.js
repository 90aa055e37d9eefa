// The page of korvex show. A process's parent is the first process with its
// parent id; a process whose parent is not in the snapshot (or is itself) is at
// the top. Parent links that loop (a work file made elsewhere) reach no top
// process: the first process of such a loop is put at the top, so that every
// process is shown once.
/* global korvex -- report.js, which runs first in the same script */
(() => {
    const {data, h, fold, count, setCounts, marked, treeItem, table, searchBox} = korvex;
    const processes = data.processes,
        modules = data.modules;
    const withLong = (name, long) => (long === null ? name : `${name} (${long})`);

    const byPid = new Map();
    processes.forEach((p, i) => {
        if (!byPid.has(p.pid)) byPid.set(p.pid, i);
    });
    const children = processes.map(() => []);
    const top = [];
    processes.forEach((p, i) => {
        const parent = byPid.get(p.parent);
        if (parent === undefined || parent === i) top.push(i);
        else children[parent].push(i);
    });
    const reached = new Set();
    const reach = (start) => {
        for (const stack = [start]; stack.length;) {
            const i = stack.pop();
            if (reached.has(i)) continue;
            reached.add(i);
            for (const child of children[i]) stack.push(child);
        }
    };
    top.forEach(reach);
    processes.forEach((p, i) => {
        if (!reached.has(i)) {
            top.push(i);
            reach(i);
        }
    });

    const modulesOf = new Map();
    for (const m of modules) {
        if (!modulesOf.has(m.pid)) modulesOf.set(m.pid, []);
        modulesOf.get(m.pid).push(m);
    }
    const exeOf = new Map(processes.map((p) => [p.pid, p.exe]));

    let chosen = null,
        query = '';
    const picks = [];
    const heading = h('h2', null, 'Modules of every process');
    const view = table(
        [
            {label: 'PID', value: (m) => m.pid, numeric: true},
            {label: 'Process', value: (m) => exeOf.get(m.pid) ?? ''},
            {
                label: 'Name',
                value: (m) => withLong(m.name, m.long_name),
                cell: (m) => marked(withLong(m.name, m.long_name), query),
            },
            {label: 'Size', value: (m) => m.size, numeric: true},
            {label: 'Version', value: (m) => m.version},
            {label: 'Modified', value: (m) => m.modified},
            {
                label: 'Path',
                wide: true,
                value: (m) => m.path,
                cell: (m) => h('span', {class: 'path'}, marked(m.path, query)),
            },
        ],
        modules,
    );
    function refresh() {
        const pid = chosen === null ? null : processes[chosen].pid;
        view.setFilter(
            pid === null && !query
                ? null
                : (m) =>
                      (pid === null || m.pid === pid) &&
                      (!query ||
                          fold(m.name).includes(query) ||
                          fold(m.long_name).includes(query) ||
                          fold(m.path).includes(query)),
        );
        heading.textContent =
            chosen === null
                ? 'Modules of every process'
                : `Modules of ${processes[chosen].exe} (process ${pid})`;
        for (const [i, button] of picks) button.setAttribute('aria-pressed', String(i === chosen));
    }
    function pick(i, text) {
        const button = h(
            'button',
            {
                type: 'button',
                class: 'pick',
                'aria-pressed': 'false',
                click: () => {
                    chosen = i;
                    refresh();
                },
            },
            text,
        );
        picks.push([i, button]);
        return button;
    }
    // Opened as drawn down to this depth, while what the page opens by itself
    // stays within a few thousand processes; the rest open on a click.
    const deepestOpened = 32,
        mostOpenedAtFirst = 2000;
    let openedAtFirst = 0;
    function processItem(i, depth) {
        const p = processes[i];
        const label = [
            pick(i, h('span', {class: 'name'}, withLong(p.exe, p.long_name))),
            h('span', {class: 'badge'}, 'pid ' + p.pid),
            h('span', {class: 'badge'}, count(p.threads, 'thread', 'threads')),
            h('span', {class: 'badge'}, 'priority ' + p.priority),
            h(
                'span',
                {class: 'badge'},
                count((modulesOf.get(p.pid) || []).length, 'module', 'modules'),
            ),
        ];
        const below = children[i];
        const open = depth < deepestOpened && openedAtFirst + below.length <= mostOpenedAtFirst;
        if (open) openedAtFirst += below.length;
        return treeItem(
            label,
            below.length ? () => below.map((c) => processItem(c, depth + 1)) : null,
            open,
        );
    }
    const tree = h(
        'ul',
        {class: 'tree tree-top', role: 'tree'},
        treeItem(
            pick(null, h('span', {class: 'name'}, 'All processes')),
            null,
            false,
            'everything',
        ),
        top.map((i) => processItem(i, 0)),
    );

    setCounts(
        `${count(processes.length, 'process', 'processes')}, ${count(modules.length, 'module', 'modules')}`,
    );
    const tools = h(
        'div',
        {class: 'tools'},
        searchBox('Filter modules by name or path', (text) => {
            query = text;
            refresh();
        }),
    );
    document
        .getElementById('report')
        .append(
            tools,
            h(
                'div',
                {class: 'views'},
                h('section', {id: 'tree-view'}, h('h2', null, 'Processes'), tree),
                h('section', {id: 'table-view'}, heading, view.element),
            ),
        );
    refresh();
})();
