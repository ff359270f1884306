// Starts the real pelorind in a temporary application directory (a copy of the
// built one without its stores, so every run begins from the first-run files)
// on a free port, and stops it again. Used from the test runner's one thread.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

// Files of a used application directory that must not leak into a fresh one:
// the stores themselves, their half-written saves, the pid file and the logs.
const kStoreFiles = new Set(['config/config.xml', 'user/user.xml', 'pelorin/base.xml']);
const kAreas = ['config', 'pelorin', 'user'];

function IsRunState(relative) {
  return kStoreFiles.has(relative) || relative.endsWith('.saving') || relative.endsWith('.log') ||
      relative.endsWith('.pid');
}

// A port nobody listens on right now, on IPv4 and IPv6 alike (the service
// listens on both). Another process may take it before the service does, so
// StartService tries again with a new port when the start fails.
function FreePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen({ port: 0, host: '::', ipv6Only: false }, () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function CopyApplication(built_dir, target_dir) {
  fs.copyFileSync(path.join(built_dir, 'pelorind'), path.join(target_dir, 'pelorind'));
  fs.chmodSync(path.join(target_dir, 'pelorind'), 0o755);
  for (const area of kAreas) {
    fs.cpSync(path.join(built_dir, area), path.join(target_dir, area), {
      recursive: true,
      filter: (source) => !IsRunState(path.relative(built_dir, source).split(path.sep).join('/')),
    });
  }
}

function WriteFirstRunConfig(target_dir, port) {
  const file = path.join(target_dir, 'config', 'configinit.xml');
  const installed = fs.readFileSync(file, 'utf8');
  const element = /<ServiceProviderPort>[^<]*<\/ServiceProviderPort>/;
  if (!element.test(installed)) throw new Error(`${file} names no ServiceProviderPort`);
  fs.writeFileSync(file, installed.replace(element, `<ServiceProviderPort>${port}</ServiceProviderPort>`));
}

function Connects(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ port, host: '127.0.0.1' });
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

const Sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One running service. `exited` resolves with { code, signal } when it ends.
class TService {
  constructor(dir, port, child) {
    this.dir = dir;
    this.port = port;
    this.origin = `http://127.0.0.1:${port}`;
    this.child_ = child;
    this.output_ = '';
    child.stdout.on('data', (chunk) => { this.output_ += chunk; });
    child.stderr.on('data', (chunk) => { this.output_ += chunk; });
    this.exited = new Promise((resolve) => {
      child.once('exit', (code, signal) => resolve({ code, signal }));
    });
    this.running_ = true;
    this.exited.then(() => { this.running_ = false; });
  }

  get output() { return this.output_; }
  get running() { return this.running_; }

  Url(relative) { return new URL(relative, this.origin + '/').href; }

  // The log lines so far, day files in name order.
  LogText() {
    return fs.readdirSync(this.dir).filter((name) => name.endsWith('.log')).sort()
        .map((name) => fs.readFileSync(path.join(this.dir, name), 'latin1')).join('');
  }

  async WaitForPort(deadline_ms) {
    const until = Date.now() + deadline_ms;
    while (Date.now() < until && this.running_) {
      if (await Connects(this.port)) return true;
      await Sleep(25);
    }
    return false;
  }

  // Asks the service to stop as the service manager would (it saves the stores
  // on the way out) and gives its exit; a service that does not stop in time
  // is killed, and the result says so.
  async Stop(deadline_ms = 20000) {
    if (this.running_) this.child_.kill('SIGTERM');
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(() => resolve(null), deadline_ms); });
    let outcome = await Promise.race([this.exited, late]);
    clearTimeout(timer);
    if (outcome === null) {
      this.child_.kill('SIGKILL');
      outcome = { ...(await this.exited), killed: true };
    }
    return outcome;
  }

  Remove() {
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// `built_dir` is the build's application directory: pelorind with the area
// folders beside it. Extra environment entries go to the service.
export async function StartService(built_dir, extra_env = {}) {
  if (!built_dir || !fs.existsSync(path.join(built_dir, 'pelorind'))) {
    throw new Error(`no pelorind in the application directory "${built_dir}" (set PELORIN_APP_DIR)`);
  }
  let last_output = '';
  for (let attempt = 0; attempt < 3; ++attempt) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelorin-browser-'));
    CopyApplication(built_dir, dir);
    const port = await FreePort();
    WriteFirstRunConfig(dir, port);
    const env = { ...process.env, ...extra_env };
    delete env.NOTIFY_SOCKET;  // the service would report to a manager that is not ours
    const child = spawn(path.join(dir, 'pelorind'), [], { cwd: dir, env, stdio: ['ignore', 'pipe', 'pipe'] });
    const service = new TService(dir, port, child);
    if (await service.WaitForPort(60000)) return service;
    await service.Stop(5000);
    last_output = service.output + service.LogText();
    service.Remove();
  }
  throw new Error(`pelorind did not start:\n${last_output}`);
}
