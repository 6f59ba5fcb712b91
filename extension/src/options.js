// The privacy settings: the five levels, the twelve custom warnings, import and export of a
// rule set, sounds, checking on or off and the form warning. Settings are the host's (the
// same files as the Qt agent's); nothing is applied until OK, and a failure leaves them as
// they were.
import { request, showError } from './pagetab.js';

const customBoxes = [];

function levelName(level) {
    return String(level ?? '').toLowerCase();
}

// The levels and the twelve warnings come with the settings, in the texts of the Qt dialog and in
// the order of the host's "custom" list; they are built once.
function build(settings) {
    if (customBoxes.length > 0) {
        return;
    }
    const levels = document.getElementById('levels');
    for (const { name, label } of Array.isArray(settings.levels) ? settings.levels : []) {
        const row = document.createElement('div');
        row.className = 'row';
        const text = document.createElement('label');
        const radio = document.createElement('input');
        radio.type = 'radio';
        radio.name = 'level';
        radio.value = name;
        radio.id = `level-${name}`;
        radio.addEventListener('change', updateCustom);
        text.append(radio, ` ${label}`);
        row.append(text);
        levels.append(row);
    }
    const custom = document.getElementById('custom');
    for (const { heading, boxes } of Array.isArray(settings.warnings) ? settings.warnings : []) {
        const title = document.createElement('div');
        title.className = 'row';
        title.style.fontWeight = 'bold';
        title.textContent = String(heading).trim();
        custom.append(title);
        for (const text of boxes) {
            const row = document.createElement('div');
            row.className = 'row';
            const label = document.createElement('label');
            const box = document.createElement('input');
            box.type = 'checkbox';
            box.id = `custom-${customBoxes.length}`;
            customBoxes.push(box);
            label.append(box, ` ${String(text).trim()}`);
            row.append(label);
            custom.append(row);
        }
    }
}

function chosenLevel() {
    return document.querySelector('input[name="level"]:checked')?.value ?? 'medium';
}

function updateCustom() {
    const custom = chosenLevel() === 'custom';
    for (const box of customBoxes) {
        box.disabled = !custom;
    }
}

function show(settings) {
    build(settings);
    const level = levelName(settings.level);
    const radio = document.getElementById(`level-${level}`);
    if (radio) {
        radio.checked = true;
    }
    const custom = Array.isArray(settings.custom) ? settings.custom : [];
    customBoxes.forEach((box, index) => {
        box.checked = custom[index] === true;
    });
    document.getElementById('enabled').checked = settings.enabled !== false;
    document.getElementById('sounds').checked = settings.sounds === true;
    document.getElementById('warnForms').checked = settings.warnForms !== false;
    updateCustom();
}

async function load() {
    show(await request({ what: 'settings.get' }));
}

function clearMessages() {
    document.getElementById('error').hidden = true;
    document.getElementById('saved').hidden = true;
}

async function save() {
    clearMessages();
    const fields = {
        level: chosenLevel(),
        enabled: document.getElementById('enabled').checked,
        sounds: document.getElementById('sounds').checked,
        warnForms: document.getElementById('warnForms').checked,
    };
    if (fields.level === 'custom') {
        fields.custom = customBoxes.map((box) => box.checked);
    }
    // One request: the host checks every field before it changes any.
    await request({ what: 'settings.set', ...fields });
    await request({ what: 'recheck' });
    await load();
    document.getElementById('saved').hidden = false;
}

async function importFile(file) {
    clearMessages();
    if (file.size > 1024 * 1024) {
        throw new Error('Invalid Appel File');
    }
    await request({ what: 'import', text: await file.text() });
    await request({ what: 'recheck' });
    await load();
    document.getElementById('saved').hidden = false;
}

async function exportFile() {
    clearMessages();
    const reply = await request({ what: 'export' });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([String(reply.text ?? '')], { type: 'text/xml' }));
    link.download = 'MyPrivacyPreferences.xml';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}


document.getElementById('ok').addEventListener('click', () => save().catch(showError));
document.getElementById('import').addEventListener('click', () => {
    document.getElementById('importFile').click();
});
document.getElementById('importFile').addEventListener('change', (event) => {
    const [file] = event.target.files;
    event.target.value = '';
    if (file) {
        importFile(file).catch(showError);
    }
});
document.getElementById('export').addEventListener('click', () => exportFile().catch(showError));
load().catch(showError);
