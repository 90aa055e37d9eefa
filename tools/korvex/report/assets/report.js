'use strict';
// The pieces every report is made of. Every element is made by h(), which
// puts texts in as text nodes and attribute values: nothing from the data
// is ever parsed as markup.
/* exported korvex -- the page's own script, which follows in the same script, uses it */
const korvex = (() => {
    const data = JSON.parse(document.getElementById('korvex-data').textContent);

    // An element with attributes (a function value listens to that event) and
    // children (nodes, or texts made text nodes; arrays are flattened).
    function h(tag, attributes, ...children) {
        const node = document.createElement(tag);
        for (const [name, value] of Object.entries(attributes || {})) {
            if (value === undefined || value === null || value === false) continue;
            if (typeof value === 'function') node.addEventListener(name, value);
            else node.setAttribute(name, value === true ? '' : String(value));
        }
        for (const child of children.flat(Infinity))
            if (child !== undefined && child !== null && child !== false) node.append(child);
        return node;
    }

    const fold = (text) => String(text ?? '').toLowerCase();
    const count = (n, one, many) => `${n} ${n === 1 ? one : many}`;
    const setCounts = (text) => {
        document.getElementById('counts').textContent = text;
    };

    // `text` with every place the (folded) query occurs in a <mark>.
    function marked(text, query) {
        text = String(text ?? '');
        if (!query) return text;
        const folded = fold(text);
        const parts = [];
        let at = 0;
        for (let found = folded.indexOf(query); found >= 0; found = folded.indexOf(query, at)) {
            parts.push(
                text.slice(at, found),
                h('mark', null, text.slice(found, found + query.length)),
            );
            at = found + query.length;
        }
        parts.push(text.slice(at));
        return parts;
    }

    // An item of a collapsible tree: its label, and the items below it, which
    // `children` makes the first time the item opens (a large tree costs only
    // what is open). Leaves pass no `children`.
    function treeItem(label, children, open, className) {
        const toggle = h('button', {
            type: 'button',
            class: 'toggle',
            'aria-expanded': 'false',
            'aria-label': 'open or close',
            disabled: !children,
        });
        const item = h(
            'li',
            {class: className ? 'tree-item ' + className : 'tree-item', role: 'treeitem'},
            h('div', {class: 'tree-row'}, toggle, label),
        );
        let list = null;
        item.setOpen = (state) => {
            if (!children) return;
            if (state && !list)
                item.append((list = h('ul', {class: 'tree', role: 'group'}, children())));
            if (list) list.hidden = !state;
            toggle.setAttribute('aria-expanded', String(state));
        };
        toggle.addEventListener('click', () =>
            item.setOpen(toggle.getAttribute('aria-expanded') !== 'true'),
        );
        if (open) item.setOpen(true);
        return item;
    }

    // Opens or closes every item under `container`; opening makes the
    // children not made yet, without recursion however deep the tree is.
    // (Nowhere are a list's items spread into one call's arguments: past about
    // 120,000 of them the browser throws.)
    function setAllOpen(container, state) {
        const pending = [...container.querySelectorAll('li.tree-item')];
        while (pending.length) {
            const item = pending.pop();
            const made = item.querySelector(':scope > ul') !== null;
            item.setOpen(state);
            if (state && !made)
                for (const child of item.querySelectorAll(':scope > ul > li.tree-item'))
                    pending.push(child);
        }
    }

    const collator = new Intl.Collator('en', {numeric: true, sensitivity: 'base'});
    const blank = (value) => value === null || value === undefined || value === '';

    // A table of `rows`. columns: {label, value(row): what it sorts by (a
    // number or a text), cell(row): what it shows (value by default),
    // numeric, wide (a column of paths, kept readable)}. A click on a header
    // sorts by that column, a second click the other way; empty cells stay
    // last. Only `limit` rows are drawn until the reader asks for all: the
    // browser's table layout, not the script, is what a table of many
    // thousand rows costs.
    function table(columns, rows, options = {}) {
        const limit = options.limit || 100;
        let shown = rows,
            order = null,
            all = false;
        const kind = (column) => (column.numeric ? 'number' : column.wide ? 'wide' : null);
        const heads = columns.map((column, index) =>
            h(
                'th',
                {scope: 'col', 'aria-sort': 'none', class: kind(column)},
                h('button', {type: 'button', click: () => sortBy(index)}, column.label),
            ),
        );
        const body = h('tbody');
        const note = h('p', {class: 'table-note'});
        const more = h(
            'button',
            {
                type: 'button',
                class: 'show-all',
                hidden: true,
                click: () => {
                    all = true;
                    draw();
                },
            },
            'show all rows',
        );
        const element = h(
            'div',
            {class: 'table-box'},
            h('table', {class: 'sortable'}, h('thead', null, h('tr', null, heads)), body),
            note,
            more,
        );

        function arrange() {
            if (!order) return;
            const column = columns[order.index],
                sign = order.descending ? -1 : 1;
            shown = shown
                .map((row) => [column.value(row), row])
                .sort(([a], [b]) => {
                    if (blank(a) || blank(b)) return blank(a) - blank(b);
                    return (
                        sign *
                        (typeof a === 'number' && typeof b === 'number'
                            ? a - b
                            : collator.compare(String(a), String(b)))
                    );
                })
                .map(([, row]) => row);
        }
        function draw() {
            const drawn = all ? shown.length : Math.min(shown.length, limit);
            const lines = document.createDocumentFragment();
            for (let i = 0; i < drawn; ++i) {
                const row = shown[i];
                lines.append(
                    h(
                        'tr',
                        {class: options.rowClass ? options.rowClass(row) : null},
                        columns.map((column) =>
                            h(
                                'td',
                                {class: kind(column)},
                                column.cell ? column.cell(row) : column.value(row),
                            ),
                        ),
                    ),
                );
            }
            body.replaceChildren(lines);
            note.textContent =
                (shown.length === rows.length
                    ? count(rows.length, 'row', 'rows')
                    : `${shown.length} of ${count(rows.length, 'row', 'rows')}`) +
                (drawn < shown.length ? `, the first ${drawn} shown` : '');
            more.hidden = drawn >= shown.length;
        }
        function sortBy(index) {
            order = {
                index,
                descending: order !== null && order.index === index && !order.descending,
            };
            heads.forEach((head, i) =>
                head.setAttribute(
                    'aria-sort',
                    i !== index ? 'none' : order.descending ? 'descending' : 'ascending',
                ),
            );
            arrange();
            draw();
        }
        // Keeps the rows `test` accepts (all of them for null), in the order chosen.
        function setFilter(test) {
            shown = test ? rows.filter(test) : rows;
            arrange();
            draw();
        }
        draw();
        return {element, setFilter};
    }

    // The search field; `changed` gets the folded, trimmed text at each change.
    function searchBox(label, changed) {
        const input = h('input', {
            type: 'search',
            id: 'search',
            placeholder: label,
            'aria-label': label,
            autocomplete: 'off',
            spellcheck: 'false',
        });
        input.addEventListener('input', () => changed(fold(input.value.trim())));
        return input;
    }

    return {data, h, fold, count, setCounts, marked, treeItem, setAllOpen, table, searchBox};
})();
