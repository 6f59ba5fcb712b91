// The sites whose forms are sent without a warning: list, add, remove.
import { request, showError } from './pagetab.js';

async function load() {
    const reply = await request({ what: 'noprompt.list' });
    const body = document.querySelector('#sites tbody');
    body.replaceChildren();
    for (const site of Array.isArray(reply.sites) ? reply.sites : []) {
        const row = document.createElement('tr');
        const name = document.createElement('td');
        name.textContent = String(site);
        const action = document.createElement('td');
        const remove = document.createElement('button');
        remove.textContent = 'Remove';
        remove.addEventListener('click', () => {
            request({ what: 'noprompt.remove', site: String(site) }).then(load).catch(showError);
        });
        action.append(remove);
        row.append(name, action);
        body.append(row);
    }
}

document.getElementById('add').addEventListener('click', () => {
    const input = document.getElementById('site');
    request({ what: 'noprompt.add', site: input.value.trim() })
        .then(() => {
            input.value = '';
            return load();
        })
        .catch(showError);
});
load().catch(showError);
