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

    // Browsers cap a box's height (Firefox near 17.9 million pixels): past
    // this, a pixel scrolled moves more than a pixel of items.
    const tallest = 1e7;
    // Items are made this many pixels beyond either edge of the view, so a
    // short scroll or a Tab into the next item finds it made.
    const margin = 600;

    // A list in a scroll box of its own that makes only the items in or near
    // its view: a branch or a table of 150,000 rows costs what a screen of
    // them does. `content`, between two spacers, holds `rows`, where
    // make(item, index) puts each item's element. Items may differ in height:
    // each drawn one is measured and kept per item; the others count as the
    // mean of those measured.
    function virtualList(content, rows, make, options = {}) {
        const before = h('div', {'aria-hidden': 'true'});
        const after = h('div', {'aria-hidden': 'true'});
        const box = h(
            'div',
            {class: 'scroll-box ' + (options.className || '')},
            before,
            content,
            after,
        );
        const measured = new WeakMap();
        const drawn = new Map();
        let items = [],
            heights = new Float64Array(0),
            starts = new Float64Array(1),
            estimate = 24,
            sum = 0,
            seen = 0;

        function lay() {
            starts = new Float64Array(items.length + 1);
            for (let i = 0; i < items.length; ++i)
                starts[i + 1] = starts[i] + (heights[i] || estimate);
        }
        // The item at `y` pixels from the top of the whole list.
        function at(y) {
            let low = 0,
                high = items.length - 1;
            while (low < high) {
                const middle = (low + high + 1) >> 1;
                if (starts[middle] <= y) low = middle;
                else high = middle - 1;
            }
            return low;
        }
        // The view is taken as tall as the screen, which no box outgrows: so a
        // list drawn before its box is in the page, and has a size, makes enough.
        const viewHeight = () => Math.max(innerHeight, screen.height);
        function scale() {
            const total = starts[items.length],
                room = Math.min(total, tallest);
            return room < total ? (total - viewHeight()) / (room - viewHeight()) : 1;
        }
        // Makes the items around the view at `scrollTop` and sizes the
        // spacers; gives the view's top in pixels of the whole list.
        function place(scrollTop) {
            const top = scrollTop * scale();
            const from = at(top - Math.min(margin, scrollTop));
            const to = items.length ? at(top + viewHeight() + margin) + 1 : 0;
            for (const [i, row] of drawn)
                if (i < from || i >= to) {
                    row.remove();
                    drawn.delete(i);
                }
            let next = rows.firstChild;
            for (let i = from; i < to; ++i) {
                const row = drawn.get(i);
                if (row) {
                    next = row.nextSibling;
                    continue;
                }
                const made = make(items[i], i);
                drawn.set(i, made);
                rows.insertBefore(made, next);
            }
            const space = Math.max(0, scrollTop - (top - starts[from]));
            before.style.height = space + 'px';
            after.style.height =
                Math.max(
                    0,
                    Math.min(starts[items.length], tallest) - space - starts[to] + starts[from],
                ) + 'px';
            return top;
        }
        // Takes the height of every drawn item; says whether one changed.
        function measure() {
            if (!box.isConnected) return false;
            let changed = false;
            for (const [i, row] of drawn) {
                const height = row.getBoundingClientRect().height;
                if (!height || Math.abs(height - heights[i]) <= 0.5) continue;
                if (heights[i]) sum -= heights[i];
                else ++seen;
                sum += height;
                heights[i] = height;
                measured.set(items[i], height);
                changed = true;
            }
            if (changed) {
                estimate = sum / seen;
                lay();
            }
            return changed;
        }
        function draw() {
            let scrollTop = box.scrollTop;
            for (let pass = 0; ; ++pass) {
                const top = place(scrollTop);
                const anchor = at(top),
                    within = top - starts[anchor];
                if (pass === 2 || !measure()) break;
                // Heights found above the view do not move what is in it.
                scrollTop = (starts[anchor] + within) / scale();
            }
            if (Math.abs(box.scrollTop - scrollTop) >= 1) box.scrollTop = scrollTop;
            if (options.drawn) options.drawn();
        }
        function clear() {
            for (const row of drawn.values()) row.remove();
            drawn.clear();
        }
        // Shows `list` from its top, or where the view was with `keepPlace`.
        function show(list, keepPlace) {
            items = list;
            heights = new Float64Array(items.length);
            sum = seen = 0;
            for (let i = 0; i < items.length; ++i) {
                heights[i] = measured.get(items[i]) || 0;
                if (heights[i]) {
                    sum += heights[i];
                    ++seen;
                }
            }
            if (seen) estimate = sum / seen;
            lay();
            clear();
            if (!keepPlace) box.scrollTop = 0;
            draw();
            // One made before it is in the page is measured before it is painted.
            if (!box.isConnected) requestAnimationFrame(draw);
        }
        // Scrolls the least that brings item `index` into view; again while
        // the heights measured on the way move it.
        function reveal(index) {
            for (let pass = 0; pass < 3; ++pass) {
                const ratio = scale(),
                    top = box.scrollTop * ratio,
                    view = box.clientHeight;
                let target = top;
                if (starts[index] < top) target = starts[index];
                else if (starts[index + 1] > top + view) target = starts[index + 1] - view;
                if (pass > 0 && Math.abs(target - top) < 1) return;
                box.scrollTop = target / ratio;
                draw();
            }
        }
        box.addEventListener('scroll', draw, {passive: true});
        return {
            box,
            show,
            draw,
            redraw: () => {
                clear();
                draw();
            },
            reveal,
            element: (index) => drawn.get(index),
        };
    }

    // A tree of nodes {label(): what its row shows, children(): the nodes
    // below it (none for a leaf), made the first time it opens; open,
    // className}, drawn as the flat list of its open rows, each with its level
    // and place among its siblings for screen readers. The tree is one tab
    // stop: the arrow keys move through the rows and open and close them,
    // Home and End go to the ends, Enter or Space activates the row
    // (`activate(node)`, or opens or closes it).
    let trees = 0;
    function tree(label, activate) {
        const prefix = `tree${++trees}-`;
        const list = h('ul', {class: 'tree', role: 'tree', tabindex: '0', 'aria-label': label});
        let roots = [],
            flat = [],
            active = 0;
        const below = (node) => (node.children ? (node.made ??= node.children()) : []);
        // Without recursion: a crafted graph may be a chain thousands deep.
        function flatten() {
            flat = [];
            const stack = [];
            const push = (nodes, level, parent) => {
                for (let i = nodes.length - 1; i >= 0; --i) {
                    Object.assign(nodes[i], {level, parent, place: i + 1, siblings: nodes.length});
                    stack.push(nodes[i]);
                }
            };
            push(roots, 1, null);
            while (stack.length) {
                const node = stack.pop();
                flat.push(node);
                if (node.open) push(below(node), node.level + 1, node);
            }
            active = Math.min(active, Math.max(0, flat.length - 1));
        }
        const view = virtualList(
            list,
            list,
            (node, index) => {
                const item = h(
                    'li',
                    {
                        class: ['tree-item', node.className, index === active && 'active']
                            .filter(Boolean)
                            .join(' '),
                        role: 'treeitem',
                        id: prefix + index,
                        'aria-level': node.level,
                        'aria-setsize': node.siblings,
                        'aria-posinset': node.place,
                        'aria-expanded': node.children ? String(Boolean(node.open)) : null,
                        'data-index': index,
                    },
                    h(
                        'div',
                        {class: 'tree-row'},
                        h('span', {class: 'toggle', 'aria-hidden': 'true'}),
                        node.label(),
                    ),
                );
                item.style.setProperty('--level', node.level - 1);
                return item;
            },
            {
                className: 'tree-box',
                drawn: () => {
                    const row = view.element(active);
                    if (row) list.setAttribute('aria-activedescendant', row.id);
                    else list.removeAttribute('aria-activedescendant');
                },
            },
        );
        function setOpen(node, state) {
            if (!node.children || Boolean(node.open) === state) return;
            node.open = state;
            flatten();
            active = flat.indexOf(node);
            view.show(flat, true);
        }
        function moveTo(index) {
            view.element(active)?.classList.remove('active');
            active = Math.max(0, Math.min(flat.length - 1, index));
            view.element(active)?.classList.add('active');
            view.reveal(active);
        }
        list.addEventListener('click', (event) => {
            const item = event.target.closest('li.tree-item');
            if (!item) return;
            const index = Number(item.dataset.index);
            moveTo(index);
            if (event.target.closest('.toggle')) setOpen(flat[index], !flat[index].open);
            list.focus({preventScroll: true});
        });
        list.addEventListener('keydown', (event) => {
            const node = flat[active];
            if (!node || event.altKey || event.ctrlKey || event.metaKey) return;
            const row = view.element(active);
            const page = row
                ? Math.max(1, Math.floor(view.box.clientHeight / row.offsetHeight) - 1)
                : 10;
            switch (event.key) {
                case 'ArrowDown':
                    moveTo(active + 1);
                    break;
                case 'ArrowUp':
                    moveTo(active - 1);
                    break;
                case 'PageDown':
                    moveTo(active + page);
                    break;
                case 'PageUp':
                    moveTo(active - page);
                    break;
                case 'Home':
                    moveTo(0);
                    break;
                case 'End':
                    moveTo(flat.length - 1);
                    break;
                case 'ArrowRight':
                    if (node.children && !node.open) setOpen(node, true);
                    else if (below(node).length) moveTo(active + 1);
                    break;
                case 'ArrowLeft':
                    if (node.children && node.open) setOpen(node, false);
                    else if (node.parent) moveTo(flat.indexOf(node.parent));
                    break;
                case 'Enter':
                case ' ':
                    if (activate) activate(node);
                    else setOpen(node, !node.open);
                    break;
                default:
                    return;
            }
            event.preventDefault();
        });
        // Opening makes the children not made yet, without recursion however
        // deep the tree is.
        function setAllOpen(state) {
            const pending = [...roots];
            while (pending.length) {
                const node = pending.pop();
                if (!node.children) continue;
                node.open = state;
                for (const child of state ? below(node) : node.made || []) pending.push(child);
            }
            flatten();
            view.show(flat, true);
        }
        return {
            element: view.box,
            show(nodes) {
                roots = nodes;
                active = 0;
                flatten();
                view.show(flat);
            },
            setAllOpen,
            redraw: view.redraw,
        };
    }

    const collator = new Intl.Collator('en', {numeric: true, sensitivity: 'base'});
    const blank = (value) => value === null || value === undefined || value === '';
    const grouped = new Intl.NumberFormat('en');
    // A size or count with thousands separators; anything else as it is.
    const thousands = (value) => (typeof value === 'number' ? grouped.format(value) : value);

    // Items a list cell shows at first, and how many more each click on its
    // "+N more" adds: a cell never grows with the length of its list, and
    // one of 150,000 names opens a bounded piece at a time.
    const fewShown = 3,
        moreShown = 500;

    // A table of `rows`. columns: {label, value(row): what it sorts by (a
    // number or a text), cell(row): what it shows (value by default),
    // numeric, nowrap (a short text kept on one line, as a date), wide (a
    // column of paths, allowed the most room), list(row): the texts of a
    // list cell (value: their number by default), item(row, index): the
    // node that shows a list's item (its text by default)}. A click on a header sorts
    // by that column, a second click the other way; empty cells stay last.
    function table(columns, rows, options = {}) {
        let sorted = rows,
            shown = rows,
            order = null,
            test = null;
        columns = columns.map((column) =>
            column.list && !column.value
                ? {...column, value: (row) => column.list(row).length}
                : column,
        );
        const kind = (column) =>
            column.numeric ? 'number' : column.nowrap ? 'nowrap' : column.wide ? 'wide' : null;
        const fixed = (column) => column.numeric || column.nowrap;
        // The text a cell shows (of a one-line column, as drawn: bounded, a
        // thousand rows at most are sampled).
        const sample = (column, row) =>
            column.list
                ? column.list(row).slice(0, fewShown).join(', ') + ', +0 more'
                : fixed(column)
                  ? h('span', null, column.cell ? column.cell(row) : thousands(column.value(row)))
                        .textContent
                  : String(column.value(row) ?? '');
        // Each column's width is the longest text of its header (a word of it:
        // a header wraps) and of up to a thousand rows spread over the table,
        // set once, so that the rows drawn as it scrolls never move a column.
        // A column of numbers, of one-line texts, or of texts no longer than
        // `short` is as wide as its longest text, in the width of a digit; the
        // others share what is left, as their texts ask within bounds, and
        // wrap.
        const short = 12;
        const step = Math.max(1, rows.length / 1000);
        const longest = columns.map((column) => {
            let most = Math.max(...column.label.split(/[ -]/).map((word) => word.length)) + 2;
            for (let i = 0; i < rows.length; i += step)
                most = Math.max(most, sample(column, rows[Math.floor(i)]).length);
            return most;
        });
        const sized = columns.map(
            (column, i) => fixed(column) || (!column.wide && longest[i] <= short),
        );
        const widths = columns.map((column, i) =>
            sized[i] ? longest[i] + 2 : Math.min(longest[i], column.wide ? 40 : 24) + 4,
        );
        const share = widths.reduce((sum, width, i) => sum + (sized[i] ? 0 : width), 0);
        const heads = columns.map((column, index) =>
            h(
                'th',
                {scope: 'col', 'aria-sort': 'none', class: kind(column)},
                h('button', {type: 'button', click: () => sortBy(index)}, column.label),
            ),
        );
        const body = h('tbody');
        const grid = h(
            'table',
            {class: 'sortable'},
            h(
                'colgroup',
                null,
                widths.map((width, i) =>
                    h('col', {
                        style: `width: ${sized[i] ? width + 'ch' : (100 * width) / share + '%'}`,
                    }),
                ),
            ),
            h('thead', null, h('tr', {'aria-rowindex': 1}, heads)),
            body,
        );
        // The list cells opened further, by row and column, kept as rows are
        // drawn again.
        const opened = columns.map(() => new WeakMap());
        function listCell(column, index, row) {
            const items = column.list(row);
            const cell = h('span', {class: 'list'});
            const fill = () => {
                const upTo = opened[index].get(row) || fewShown;
                const rest = items.length - upTo;
                // One array argument, never spread: a list may be longer than
                // a call takes arguments.
                cell.replaceChildren(
                    h(
                        'span',
                        null,
                        items
                            .slice(0, upTo)
                            .map((text, i) => [
                                i ? ', ' : '',
                                column.item ? column.item(row, i) : text,
                            ]),
                    ),
                    rest <= 0
                        ? ''
                        : h(
                              'button',
                              {
                                  type: 'button',
                                  class: 'more',
                                  title: `show ${thousands(Math.min(rest, moreShown))} more of ${thousands(items.length)}`,
                                  click: () => {
                                      opened[index].set(row, upTo + moreShown);
                                      fill();
                                      view.draw();
                                  },
                              },
                              `+${thousands(rest)} more`,
                          ),
                );
            };
            fill();
            return cell;
        }
        const view = virtualList(
            grid,
            body,
            (row, index) =>
                h(
                    'tr',
                    {
                        class: options.rowClass ? options.rowClass(row) : null,
                        'aria-rowindex': index + 2,
                    },
                    columns.map((column, i) =>
                        h(
                            'td',
                            {class: kind(column)},
                            column.cell
                                ? column.cell(row)
                                : column.list
                                  ? listCell(column, i, row)
                                  : column.numeric
                                    ? thousands(column.value(row))
                                    : column.value(row),
                        ),
                    ),
                ),
            {className: 'table-box'},
        );
        const note = h('p', {class: 'table-note'});
        const element = h('div', {class: 'table'}, view.box, note);

        function draw() {
            shown = test ? sorted.filter(test) : sorted;
            grid.setAttribute('aria-rowcount', shown.length + 1);
            view.show(shown);
            note.textContent =
                shown.length === rows.length
                    ? count(rows.length, 'row', 'rows')
                    : `${shown.length} of ${count(rows.length, 'row', 'rows')}`;
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
            const column = columns[index],
                sign = order.descending ? -1 : 1;
            sorted = rows
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
            draw();
        }
        // Keeps the rows `accepts` takes (all of them for null), in the order chosen.
        function setFilter(accepts) {
            test = accepts;
            draw();
        }
        draw();
        // redraw: measures the rows again, once a table drawn hidden shows.
        return {element, setFilter, redraw: view.draw};
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

    return {
        data,
        h,
        fold,
        count,
        thousands,
        setCounts,
        marked,
        virtualList,
        tree,
        table,
        searchBox,
    };
})();
