// The page of korvex diff. A module's row: loaded (only after), unloaded (only
// before) or changed (both; the cells say "before -> after" where they differ).
// Each section lists its processes a screen at a time, each a group that
// opens to the table of its modules.
/* global korvex -- report.js, which runs first in the same script */
(() => {
    const {data, h, fold, count, thousands, setCounts, marked, virtualList, table, searchBox} =
        korvex;
    const kinds = [
        ['started', 'Started'],
        ['ended', 'Ended'],
        ['changed', 'Changed'],
    ];
    const withLong = (name, long) => (long === null ? name : `${name} (${long})`);
    const signs = {loaded: '+ loaded', unloaded: '\u2212 unloaded', updated: '~ changed'};

    const rowsOf = (change) => [
        ...change.loaded.map((m) => ({kind: 'loaded', before: null, after: m})),
        ...change.unloaded.map((m) => ({kind: 'unloaded', before: m, after: null})),
        ...change.updated.map((u) => ({kind: 'updated', before: u.before, after: u.after})),
    ];
    const either = (row) => row.after ?? row.before;
    // "before -> after" where a changed module's field differs, else the one value.
    const both = (row, field, format = (value) => value) => {
        if (!row.before || !row.after || row.before[field] === row.after[field])
            return format(either(row)[field]);
        return `${format(row.before[field])} \u2192 ${format(row.after[field])}`;
    };
    let loaded = 0,
        unloaded = 0,
        updated = 0;
    for (const [kind] of kinds)
        for (const change of data[kind]) {
            loaded += change.loaded.length;
            unloaded += change.unloaded.length;
            updated += change.updated.length;
        }
    setCounts(
        `${data.started.length} started, ${data.ended.length} ended, ${data.changed.length} changed; ` +
            `${count(loaded, 'module', 'modules')} loaded, ${unloaded} unloaded, ${updated} changed`,
    );

    const changeTable = (rows, query) =>
        table(
            [
                {label: 'Change', value: (row) => signs[row.kind]},
                {
                    label: 'Name',
                    value: (row) => withLong(either(row).name, either(row).long_name),
                    cell: (row) => marked(withLong(either(row).name, either(row).long_name), query),
                },
                {
                    label: 'Size',
                    value: (row) => either(row).size,
                    cell: (row) => String(both(row, 'size', thousands)),
                    numeric: true,
                },
                {label: 'Version', value: (row) => both(row, 'version')},
                {
                    label: 'Modified',
                    value: (row) => both(row, 'modified', (date) => date.replace('T', ' ')),
                },
                {
                    label: 'Path',
                    wide: true,
                    value: (row) => either(row).path,
                    cell: (row) => h('span', {class: 'path'}, marked(either(row).path, query)),
                },
            ],
            rows,
            {rowClass: (row) => row.kind},
        );

    // A group's table is made each time its row is, so a closed group or one
    // scrolled far away holds none.
    function groupItem(group, index, size, list) {
        const toggle = h('button', {
            type: 'button',
            class: 'toggle',
            'aria-expanded': String(group.open),
            'aria-label': 'open or close',
            disabled: group.rows.length === 0,
        });
        const change = group.change;
        const item = h(
            'li',
            {class: 'group', 'aria-setsize': size, 'aria-posinset': index + 1},
            h(
                'div',
                {class: 'tree-row'},
                toggle,
                h('span', {class: 'name'}, marked(group.name, group.query)),
                h('span', {class: 'badge'}, 'pid ' + change.pid),
                h(
                    'span',
                    {class: 'note'},
                    [
                        count(change.loaded.length, 'module', 'modules') + ' loaded',
                        change.unloaded.length + ' unloaded',
                        change.updated.length + ' changed',
                    ].join(', '),
                ),
            ),
        );
        const setOpen = (state) => {
            group.open = state;
            toggle.setAttribute('aria-expanded', String(state));
            if (state) item.append(changeTable(group.rows, group.query).element);
            else item.querySelector(':scope > .table').remove();
        };
        toggle.addEventListener('click', () => {
            setOpen(!group.open);
            list.draw();
        });
        if (group.open) setOpen(true);
        return item;
    }

    const sections = h('div');
    const open = data.started.length + data.ended.length + data.changed.length <= 50;
    function draw(query) {
        const parts = [];
        for (const [kind, title] of kinds) {
            const groups = [];
            for (const change of data[kind]) {
                const name = withLong(change.exe, change.long_name);
                const all = rowsOf(change);
                const rows =
                    !query || fold(name).includes(query)
                        ? all
                        : all.filter(
                              (row) =>
                                  fold(either(row).name).includes(query) ||
                                  fold(either(row).long_name).includes(query) ||
                                  fold(either(row).path).includes(query),
                          );
                if (query && rows.length === 0) continue;
                groups.push({
                    change,
                    name,
                    rows,
                    query,
                    open: rows.length > 0 && (open || Boolean(query)),
                });
            }
            let body = h('p', {class: 'empty'}, query ? 'Nothing matches.' : 'None.');
            if (groups.length) {
                const items = h('ul', {class: 'groups'});
                const list = virtualList(items, items, (group, index) =>
                    groupItem(group, index, groups.length, list),
                );
                list.show(groups);
                body = list.box;
            }
            parts.push(
                h('section', {id: kind}, h('h2', null, `${title} (${data[kind].length})`), body),
            );
        }
        sections.replaceChildren(...parts);
    }
    const tools = h(
        'div',
        {class: 'tools'},
        searchBox('Filter by process, module name or path', draw),
    );
    document.getElementById('report').append(tools, sections);
    draw('');
})();
