import { platform } from './platform.js';

document.getElementById('version').textContent =
    `Version ${platform.api.runtime.getManifest().version}`;
