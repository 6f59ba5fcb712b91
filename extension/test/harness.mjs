// What the browser tests share: a private home with the agent's data files, the host registered
// by `perchlight register --browser`, the demo sites served by `perchlight demo --serve`, small
// sites of the test's own with a log of what they received, and the two browsers started by
// puppeteer-core with the extension loaded.
import { spawn, spawnSync, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

export const SKIPPED = 77;

// "--name value" pairs; the files and folders among them made absolute (HOME must be).
export function parseArguments(argv) {
    const options = {};
    for (let i = 0; i < argv.length; i += 2) {
        const name = argv[i].replace(/^--/, '');
        const paths = ['perchlight', 'extension', 'source', 'work', 'out'];
        options[name] = paths.includes(name) ? path.resolve(argv[i + 1]) : argv[i + 1];
    }
    return options;
}

export function identity(source) {
    return JSON.parse(fs.readFileSync(path.join(source, 'extension', 'identity.json'), 'utf8'));
}

// A home of its own for the browser, the host and the tool: HOME, XDG_CONFIG_HOME and
// PERCHLIGHT_HOME (a copy of the data files beside the tool) all point inside it.
export function makeHome(work, perchlight) {
    fs.rmSync(work, { recursive: true, force: true });
    const home = path.join(work, 'home');
    const module = path.join(work, 'module');
    fs.mkdirSync(home, { recursive: true });
    fs.cpSync(path.join(path.dirname(perchlight), 'data'), module, { recursive: true });
    const env = {
        ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, '.config'),
        PERCHLIGHT_HOME: module,
    };
    return { work, home, module, env };
}

export function tool(perchlight, env, ...args) {
    return execFileSync(perchlight, args, { env, encoding: 'utf8' });
}

// The verdict `perchlight check` gives a page (its exit status tells the verdict, not a failure).
export function checkVerdict(perchlight, env, url) {
    const run = spawnSync(perchlight, ['check', url], { env, encoding: 'utf8' });
    return /^verdict: (.*)$/m.exec(run.stdout ?? '')?.[1] ?? `no verdict (${run.stderr})`;
}

// `perchlight demo --serve`: the demo sites until stop().
export async function serveDemo(perchlight, env) {
    const child = spawn(perchlight, ['demo', '--serve'], { env, stdio: ['pipe', 'pipe', 'inherit'] });
    const sites = {};
    const lines = readline.createInterface({ input: child.stdout });
    await new Promise((resolve, reject) => {
        child.on('exit', (code) => reject(new Error(`perchlight demo ended with ${code}`)));
        lines.on('line', (line) => {
            const site = /^site (\S+) (\S+)$/.exec(line);
            if (site) {
                sites[site[1]] = site[2];
            } else if (line.startsWith('serving until')) {
                resolve();
            }
        });
    });
    return { sites, stop: () => child.stdin.end() };
}

// A loopback server of the test's own: routes maps a path to { type, body, headers }; every
// request is logged with its method, path and body.
export async function serveSite(routes) {
    const log = [];
    const waiters = [];
    const server = http.createServer((request, response) => {
        const chunks = [];
        request.on('data', (chunk) => chunks.push(chunk));
        request.on('end', () => {
            const url = new URL(request.url, 'http://127.0.0.1');
            const entry = { method: request.method, path: url.pathname,
                body: Buffer.concat(chunks).toString('latin1') };
            log.push(entry);
            for (const waiter of waiters.splice(0)) {
                waiter();
            }
            const route = routes[url.pathname];
            if (route === undefined) {
                response.writeHead(404, { 'Content-Type': 'text/plain' });
                response.end('not found');
                return;
            }
            response.writeHead(200, { 'Content-Type': route.type ?? 'text/html; charset=utf-8',
                'Cache-Control': 'no-store', ...(route.headers ?? {}) });
            response.end(typeof route.body === 'function' ? route.body(entry) : route.body);
        });
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const base = `http://127.0.0.1:${server.address().port}`;
    return {
        base, log,
        // Resolves once a logged request satisfies test.
        until(test) {
            return new Promise((resolve) => {
                const check = () => {
                    const found = log.find(test);
                    if (found) {
                        resolve(found);
                    } else {
                        waiters.push(check);
                    }
                };
                check();
            });
        },
        close() {
            const closed = new Promise((resolve) => server.close(resolve));
            server.closeAllConnections();
            return closed;
        },
    };
}

export async function loadPuppeteer() {
    try {
        return (await import('puppeteer-core')).default;
    } catch {
        return null;
    }
}

export function temporaryName(prefix) {
    return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}
