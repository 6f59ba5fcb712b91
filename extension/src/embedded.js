// The page's embedded items with their states, types and policies; a click on a heading sorts
// by that column, a second click the other way.
import { pageTab, request, showError } from './pagetab.js';

let items = [];
let sortKey = null;
let ascending = true;

function text(value) {
    return value === null || value === undefined ? '' : String(value);
}

function render() {
    const body = document.querySelector('#items tbody');
    body.replaceChildren();
    const rows = [...items];
    if (sortKey !== null) {
        rows.sort((a, b) => text(a[sortKey]).localeCompare(text(b[sortKey])) * (ascending ? 1 : -1));
    }
    for (const item of rows) {
        const row = document.createElement('tr');
        for (const key of ['url', 'state', 'type', 'policy']) {
            const cell = document.createElement('td');
            cell.textContent = text(item[key]);
            row.append(cell);
        }
        body.append(row);
    }
}

async function show() {
    const tab = await pageTab();
    const state = await request({ what: 'state', tab });
    document.getElementById('page').textContent = state.url;
    items = Array.isArray(state.result?.items) ? state.result.items : [];
    for (const heading of document.querySelectorAll('#items th')) {
        heading.addEventListener('click', () => {
            ascending = sortKey === heading.dataset.key ? !ascending : true;
            sortKey = heading.dataset.key;
            render();
        });
    }
    render();
}

show().catch(showError);
