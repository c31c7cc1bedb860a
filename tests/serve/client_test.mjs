// The JavaScript client against scripted answers (node --test): each answer of the service becomes
// its typed error, a request that gets no answer is told apart (blocked by the browser, refused,
// not running), the event stream is parsed however it is cut, and the watch reconnects.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import * as client from '../../tools/client/index.js';

const SERVICE = 'http://127.0.0.1:8089';

function answer(status, body, headers = {}) {
  return new Response(typeof body === 'string' ? body : JSON.stringify(body), { status, headers });
}

// The browser's local-network permission as this test sets it: name -> state, absent names unknown.
let permissions = {};
Object.defineProperty(globalThis, 'navigator', {
  configurable: true,
  value: {
    permissions: {
      query: async ({ name }) => {
        if (!(name in permissions)) throw new TypeError(`unknown permission ${name}`);
        return { state: permissions[name] };
      },
    },
  },
});

test('each answer of the service becomes its typed error', async () => {
  const failure = (kind) => ({ error: { kind, step: 'read', call: 'ReadBaseInfo', code: -8,
                                        message: 'm' } });
  const cases = [
    [404, failure('no_card'), {}, client.NoCardError, 'no_card'],
    [503, failure('no_reader'), {}, client.NoReaderError, 'no_reader'],
    [503, failure('busy'), { 'Retry-After': '3' }, client.BusyError, 'busy'],
    [502, failure('read_failed'), {}, client.ReadFailedError, 'read_failed'],
    [403, failure('origin'), {}, client.RefusedError, 'refused'],
    [403, failure('host'), {}, client.RefusedError, 'refused'],
    [500, failure('internal'), {}, client.CardServiceError, 'internal'],
    [503, 'not json', {}, client.BusyError, 'busy'],
  ];
  for (const [status, body, headers, Class, kind] of cases) {
    const err = await client.readCard({ fetch: async () => answer(status, body, headers) })
      .then(() => null, (e) => e);
    assert.ok(err instanceof Class, `${status} ${JSON.stringify(body)}: ${err && err.name}`);
    assert.ok(err instanceof client.CardServiceError);
    assert.equal(err.kind, kind);
    assert.equal(err.status, status);
    if (typeof body === 'object') {
      assert.equal(err.call, 'ReadBaseInfo');
      assert.equal(err.code, -8);
    }
  }
  const busy = await client.readerStatus({
    fetch: async () => answer(503, failure('busy'), { 'Retry-After': '3' }),
  }).catch((e) => e);
  assert.equal(busy.retryAfter, 3);
  const noHeader = await client.readCard({ fetch: async () => answer(503, failure('busy')) })
    .catch((e) => e);
  assert.equal(noHeader.retryAfter, 1, 'a busy answer without Retry-After waits one second');
});

test('a read asks the service at its address and hands back the card', async () => {
  const asked = [];
  const doc = { edition: 'sdt', card: { name: 'n' }, photo: { media_type: 'image/bmp', base64: 'Qk0=' } };
  const got = await client.readCard({
    service: 'http://localhost:9000/',
    fetch: async (url) => { asked.push(String(url)); return answer(200, doc); },
  });
  assert.deepEqual(asked, ['http://localhost:9000/api/v1/card']);
  assert.deepEqual(got, doc);
  assert.equal(client.photoURL(got), 'data:image/bmp;base64,Qk0=');
  assert.equal(client.photoURL({ ...doc, photo: null }), null);
});

test('a request without an answer: blocked, refused, or nothing listening', async () => {
  const cases = [
    // permissions, does anything answer a no-cors request, expected error
    [{ 'loopback-network': 'denied' }, true, client.BlockedByBrowserError],
    [{ 'local-network-access': 'denied' }, false, client.BlockedByBrowserError],  // older browsers
    [{ 'loopback-network': 'granted', 'local-network-access': 'denied' }, true, client.RefusedError],
    [{ 'loopback-network': 'prompt' }, false, client.ServiceNotRunningError],
    [{}, true, client.RefusedError],
    [{}, false, client.ServiceNotRunningError],
    // The browser holds the request while it asks the user.
    [{ 'loopback-network': 'prompt' }, 'held', client.BlockedByBrowserError],
  ];
  for (const [perms, listening, Class] of cases) {
    permissions = perms;
    const fetch = async (url, init = {}) => {
      if (init.mode === 'no-cors' && listening === 'held') {
        return new Promise((_, reject) => init.signal.addEventListener('abort',
          () => reject(new DOMException('aborted', 'AbortError'))));
      }
      if (init.mode === 'no-cors' && listening) return new Response(null, { status: 200 });
      throw new TypeError('Failed to fetch');
    };
    const err = await client.readCard({ service: SERVICE, fetch }).catch((e) => e);
    assert.ok(err instanceof Class, `${JSON.stringify(perms)} ${listening}: ${err && err.name}`);
  }
  permissions = {};
});

test('the event stream is parsed however it is cut', () => {
  const stream = 'retry: 2000\r\n\r\n: keep-alive\n\nevent: card\ndata: {"a":\ndata: 1}\n\n' +
                 'event: ready\r\ndata: {}\r\n\r\nevent: error\rdata: {"error":{}}\r\r\n';
  const want = [['card', '{"a":\n1}'], ['ready', '{}'], ['error', '{"error":{}}']];
  for (let size = 1; size <= stream.length; size += 1) {
    const events = [];
    const retries = [];
    const parser = client.eventParser((name, data) => events.push([name, data]),
      (ms) => retries.push(ms));
    for (let at = 0; at < stream.length; at += size) parser.feed(stream.slice(at, at + size));
    assert.deepEqual(events, want, `cut every ${size} characters`);
    assert.deepEqual(retries, [2000]);
  }
});

test('the watch reports cards and reader errors, and reconnects after busy and lost streams',
  async () => {
    const card = { edition: 'sdt', card: { id_number: 'X' }, photo: null };
    const body = (text) => new ReadableStream({
      start(c) {
        const bytes = new TextEncoder().encode(text);
        c.enqueue(bytes.slice(0, 7));
        c.enqueue(bytes.slice(7));  // a UTF-8 sequence may be cut too
        c.close();
      },
    });
    const answers = [
      () => answer(503, { error: { kind: 'busy', message: 'too many' } }, { 'Retry-After': '0' }),
      () => new Response(body(`retry: 10\n\nevent: card\ndata: ${JSON.stringify(card)}\n\n` +
                              'event: error\ndata: {"error":{"kind":"no_reader","message":"读卡器"}}\n\n' +
                              'event: ready\ndata: {"reader":"ready"}\n\n'), { status: 200 }),
      () => { throw new TypeError('Failed to fetch'); },  // the no-cors probe finds nothing either
    ];
    let calls = 0;
    const seen = [];
    let watch;
    const done = new Promise((resolve) => {
      watch = client.watchCards({
        open: () => seen.push('open'),
        card: (doc) => seen.push('card ' + doc.card.id_number),
        ready: () => seen.push('ready'),
        error: (e) => {
          seen.push(e.kind);
          if (e.kind === 'service_not_running' && seen.filter((s) => s === e.kind).length === 2) {
            resolve();
          }
        },
      }, {
        service: SERVICE, retryMs: 5,
        fetch: async (url, init = {}) => {
          if (init.mode !== 'no-cors') calls += 1;
          return answers[Math.min(calls, answers.length) - 1]();
        },
      });
    });
    await done;
    watch.close();
    const settled = calls;
    await new Promise((r) => setTimeout(r, 50));
    assert.equal(calls, settled, 'nothing is asked once the watch is closed');
    assert.deepEqual(seen.slice(0, 7), ['busy', 'open', 'card X', 'no_reader', 'ready',
      'service_not_running', 'service_not_running']);
  });

test('the module exports exactly what its declarations declare', async () => {
  const { readFile } = await import('node:fs/promises');
  const declarations = await readFile(new URL('../../tools/client/index.d.ts', import.meta.url),
    'utf8');
  const declared = [...declarations.matchAll(/^export declare (?:class|function|const) (\w+)/gm)]
    .map((m) => m[1]).sort();
  assert.deepEqual(Object.keys(client).sort(), declared);
});
