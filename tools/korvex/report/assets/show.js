// The page of korvex show. A process's parent is the first process with its
// parent id; a process whose parent is not in the snapshot (or is itself) is at
// the top. Parent links that loop (a work file made elsewhere) reach no top
// process: the first process of such a loop is put at the top, so that every
// process is shown once. The search keeps the processes whose name or pid
// it matches or that hold a matching module, with the way down to them, and
// the modules that match or belong to a matching process. The modules view
// lists each module file once (by its path, letter case ignored, as Windows
// names files) with the processes that load it, for "who has this DLL
// loaded?".
/* global korvex -- report.js, which runs first in the same script */
(() => {
    const {data, h, fold, count, setCounts, marked, tree, table, searchBox} = korvex;
    const processes = data.processes,
        modules = data.modules;
    const withLong = (name, long) => (long === null ? name : `${name} (${long})`);
    // A date and time as one line of the page: "2025-12-31 13:05".
    const day = (text) => String(text ?? '').replace('T', ' ');

    const byPid = new Map();
    processes.forEach((p, i) => {
        if (!byPid.has(p.pid)) byPid.set(p.pid, i);
    });
    const children = processes.map(() => []);
    const parentOf = processes.map(() => -1);
    const top = [];
    processes.forEach((p, i) => {
        const parent = byPid.get(p.parent);
        if (parent === undefined || parent === i) top.push(i);
        else {
            children[parent].push(i);
            parentOf[i] = parent;
        }
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
            parentOf[i] = -1;
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
        query = '',
        named = null;
    const moduleMatches = (m) =>
        fold(m.name).includes(query) ||
        fold(m.long_name).includes(query) ||
        fold(m.path).includes(query);
    const heading = h('h2', null, 'Modules of every process');
    const view = table(
        [
            {label: 'PID', value: (m) => m.pid, cell: (m) => String(m.pid), numeric: true},
            {label: 'Process', value: (m) => exeOf.get(m.pid) ?? ''},
            {
                label: 'Name',
                value: (m) => withLong(m.name, m.long_name),
                cell: (m) => marked(withLong(m.name, m.long_name), query),
            },
            {label: 'Size', value: (m) => m.size, numeric: true},
            {label: 'Version', value: (m) => m.version, nowrap: true},
            {
                label: 'Modified',
                value: (m) => m.modified,
                cell: (m) => day(m.modified),
                nowrap: true,
            },
            {
                label: 'Path',
                wide: true,
                value: (m) => m.path,
                cell: (m) => h('span', {class: 'path'}, marked(m.path, query)),
            },
        ],
        modules,
    );
    const processTree = tree('Processes', (node) => choose(node.process));
    function refresh() {
        const pid = chosen === null ? null : processes[chosen].pid;
        view.setFilter(
            pid === null && !query
                ? null
                : (m) =>
                      (pid === null || m.pid === pid) &&
                      (!query || named.has(m.pid) || moduleMatches(m)),
        );
        heading.textContent =
            chosen === null
                ? 'Modules of every process'
                : `Modules of ${processes[chosen].exe} (process ${pid})`;
    }
    function choose(i) {
        chosen = i;
        refresh();
        processTree.redraw();
    }
    const pick = (i, text) =>
        h(
            'button',
            {
                type: 'button',
                class: 'pick',
                tabindex: '-1',
                'aria-pressed': String(i === chosen),
                click: () => choose(i),
            },
            text,
        );
    // Opened as made down to this depth, while what the page opens by itself
    // stays within a few thousand processes; the rest open on a click. What a
    // search keeps opens to the same depth, however much it is.
    const deepestOpened = 32,
        mostOpenedAtFirst = 2000;
    let openedAtFirst = 0;
    function processNode(i, depth, keep) {
        const below = keep ? children[i].filter((c) => keep.has(c)) : children[i];
        const open =
            depth < deepestOpened &&
            (keep !== null || openedAtFirst + below.length <= mostOpenedAtFirst);
        if (open && !keep) openedAtFirst += below.length;
        return {
            process: i,
            open,
            label: () => {
                const p = processes[i];
                return [
                    pick(
                        i,
                        h('span', {class: 'name'}, marked(withLong(p.exe, p.long_name), query)),
                    ),
                    h('span', {class: 'badge'}, 'pid ' + p.pid),
                    h('span', {class: 'badge'}, count(p.threads, 'thread', 'threads')),
                    h('span', {class: 'badge'}, 'priority ' + p.priority),
                    h(
                        'span',
                        {class: 'badge'},
                        count((modulesOf.get(p.pid) || []).length, 'module', 'modules'),
                    ),
                ];
            },
            children: below.length ? () => below.map((c) => processNode(c, depth + 1, keep)) : null,
        };
    }
    const everything = {
        process: null,
        className: 'everything',
        label: () => pick(null, h('span', {class: 'name'}, 'All processes')),
    };
    function search(text) {
        query = text;
        let keep = null;
        named = new Set();
        if (query) {
            keep = new Set();
            processes.forEach((p, i) => {
                const byName =
                    fold(p.exe).includes(query) ||
                    fold(p.long_name).includes(query) ||
                    String(p.pid) === query;
                if (byName) named.add(p.pid);
                if (!byName && !(modulesOf.get(p.pid) || []).some(moduleMatches)) return;
                for (let at = i; at !== -1 && !keep.has(at); at = parentOf[at]) keep.add(at);
            });
        }
        openedAtFirst = 0;
        const kept = keep ? top.filter((i) => keep.has(i)) : top;
        processTree.show([everything, ...kept.map((i) => processNode(i, 0, keep))]);
        refresh();
    }

    // Each module file once: the records of one path (or of one name, where
    // a record has no path) with the processes that hold them, in the order
    // first met. A click on a process there shows it in the processes view.
    const files = new Map();
    for (const m of modules) {
        const key = fold(m.path || m.name);
        let file = files.get(key);
        if (!file) files.set(key, (file = {m, holders: [], pids: new Set()}));
        if (!file.pids.has(m.pid)) {
            file.pids.add(m.pid);
            file.holders.push(`${exeOf.get(m.pid) ?? '?'} (${m.pid})`);
        }
    }
    for (const file of files.values()) file.pids = [...file.pids];
    function holder(f, i) {
        const process = byPid.get(f.pids[i]);
        if (process === undefined) return f.holders[i];
        const click = () => {
            showView(byProcess);
            choose(process);
        };
        return h('button', {type: 'button', class: 'pick', click}, f.holders[i]);
    }
    const fileRows = [...files.values()];
    const everyFile = table(
        [
            {
                label: 'Name',
                value: (f) => withLong(f.m.name, f.m.long_name),
                cell: (f) => marked(withLong(f.m.name, f.m.long_name), query),
            },
            {label: 'Processes', value: (f) => f.holders.length, numeric: true},
            {
                label: 'Loaded by',
                list: (f) => f.holders,
                item: holder,
                value: (f) => f.holders[0],
            },
            {label: 'Version', value: (f) => f.m.version, nowrap: true},
            {label: 'Size', value: (f) => f.m.size, numeric: true},
            {
                label: 'Path',
                wide: true,
                value: (f) => f.m.path,
                cell: (f) => h('span', {class: 'path'}, marked(f.m.path, query)),
            },
        ],
        fileRows,
    );
    const byModule = h(
        'section',
        {id: 'modules-view', hidden: true},
        h('h2', null, 'Each module once, with the processes that load it'),
        everyFile.element,
    );
    const byProcess = h(
        'div',
        {class: 'views'},
        h('section', {id: 'tree-view'}, h('h2', null, 'Processes'), processTree.element),
        h('section', {id: 'table-view'}, heading, view.element),
    );
    // The two views share the search box; one is shown at a time.
    const views = [
        ['by-process', 'Processes', byProcess],
        ['by-module', 'Modules', byModule],
    ];
    const viewButtons = views.map(([id, text, shows]) =>
        h(
            'button',
            {
                type: 'button',
                id,
                'aria-pressed': String(shows === byProcess),
                click: () => showView(shows),
            },
            text,
        ),
    );
    function showView(shows) {
        views.forEach(([, , other], i) => {
            other.hidden = other !== shows;
            viewButtons[i].setAttribute('aria-pressed', String(other === shows));
        });
        // A list drawn while hidden is measured once it shows.
        if (shows === byModule) everyFile.redraw();
        else {
            processTree.redraw();
            view.redraw();
        }
    }
    function searchBoth(text) {
        search(text);
        everyFile.setFilter(text ? (f) => moduleMatches(f.m) : null);
    }

    setCounts(
        `${count(processes.length, 'process', 'processes')}, ${count(modules.length, 'module', 'modules')}`,
    );
    const tools = h(
        'div',
        {class: 'tools'},
        searchBox('Filter processes and modules by name, path or pid', searchBoth),
        h('span', {class: 'switch', role: 'group', 'aria-label': 'View'}, viewButtons),
    );
    document.getElementById('report').append(tools, byProcess, byModule);
    search('');
})();
