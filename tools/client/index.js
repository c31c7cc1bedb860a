// The browser client of the local card reader service: read the card, ask for the reader, be told
// when a card is placed. One ES module, no dependencies. Every failure is a CardServiceError whose
// `kind` says what happened; see index.d.ts for the types.

export const DEFAULT_SERVICE = 'http://127.0.0.1:8089';
const DEFAULT_RETRY_MS = 2000;

// ---- Errors ------------------------------------------------------------------------------------

export class CardServiceError extends Error {
  constructor(kind, message, details = {}) {
    super(message);
    this.name = new.target.name;
    this.kind = kind;
    this.status = details.status ?? null;
    this.step = details.step ?? null;
    this.call = details.call ?? null;
    this.code = details.code ?? null;
  }
}
export class NoCardError extends CardServiceError {}
export class NoReaderError extends CardServiceError {}
export class BusyError extends CardServiceError {
  constructor(kind, message, details = {}) {
    super(kind, message, details);
    this.retryAfter = details.retryAfter ?? 1;  // seconds
  }
}
export class ReadFailedError extends CardServiceError {}
export class RefusedError extends CardServiceError {}
export class BlockedByBrowserError extends CardServiceError {}
export class ServiceNotRunningError extends CardServiceError {}

// The service's error kinds and the classes that carry them; anything else is a plain
// CardServiceError with the service's own kind (internal, malformed, ...).
const CLASSES = {
  no_card: NoCardError,
  no_reader: NoReaderError,
  busy: BusyError,
  read_failed: ReadFailedError,
  host: RefusedError,
  origin: RefusedError,
};

// The error of a service's error document ({"error": {kind, message, step, call, code}}).
export function errorFromDocument(doc, status = null, retryAfter = null) {
  const e = (doc && typeof doc === 'object' && doc.error) || {};
  const kind = typeof e.kind === 'string' ? e.kind : 'internal';
  const Class = CLASSES[kind] || CardServiceError;
  const refused = Class === RefusedError;
  return new Class(refused ? 'refused' : kind, e.message || 'the card service failed', {
    status, step: e.step, call: e.call, code: e.code, retryAfter,
  });
}

function retryAfterSeconds(res) {
  const value = Number.parseInt(res.headers.get('Retry-After') || '', 10);
  return Number.isFinite(value) && value >= 0 ? value : 1;
}

// An answer that is not a success, as its typed error.
async function errorFromResponse(res) {
  let doc = null;
  try {
    doc = await res.json();
  } catch {
    // not JSON: the kind follows from the status alone
  }
  if (!doc || !doc.error) {
    const kind = res.status === 404 ? 'not_found' : res.status === 503 ? 'busy' : 'internal';
    doc = { error: { kind, message: `the card service answered ${res.status}` } };
  }
  return errorFromDocument(doc, res.status, res.status === 503 ? retryAfterSeconds(res) : null);
}

// ---- Why a request never got an answer ---------------------------------------------------------

function isLoopback(url) {
  const host = new URL(url).hostname;
  return host === 'localhost' || host === '[::1]' || /^127\.\d+\.\d+\.\d+$/.test(host);
}

// What the browser's local-network permission says for calls from this page to `service`:
// 'granted', 'denied', 'prompt', or null where the browser has no such permission. Browsers that
// split it ask for loopback and the local network separately; older ones have one for both.
async function localNetworkPermission(service) {
  if (typeof navigator === 'undefined' || !navigator.permissions) return null;
  const names = [isLoopback(service) ? 'loopback-network' : 'local-network', 'local-network-access'];
  for (const name of names) {
    try {
      return (await navigator.permissions.query({ name })).state;
    } catch {
      // this browser does not know the name
    }
  }
  return null;
}

// A request failed without an answer: the browser refused to send it (a public page without the
// user's permission to reach the local network), the service refused this page's origin (the
// browser hides such an answer from the page), or nothing listens.
const PROBE_MS = 2000;

async function unreachable(service, fetchImpl) {
  const blocked = () => new BlockedByBrowserError('blocked_by_browser',
      'the browser does not let this page reach the card service on this computer: allow ' +
      '"local network access" for this site in the browser (or have it allowed by policy)');
  const permission = await localNetworkPermission(service);
  if (permission === 'denied') return blocked();
  // An opaque answer still proves that something listens; this page may just not read it. While
  // the browser asks the user, the probe is held: after a while that counts as blocked too.
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), PROBE_MS);
  try {
    await fetchImpl(new URL('/', service), {
      mode: 'no-cors', cache: 'no-store', signal: controller.signal,
    });
    return new RefusedError('refused',
        "the card service does not accept this page's origin (it must be given to it with " +
        '--allow-origin)');
  } catch {
    // (A page of the service itself is never asked about: there a held probe is a hung service.)
    const ownPage = typeof location !== 'undefined' && location.origin === new URL(service).origin;
    if (controller.signal.aborted && permission === 'prompt' && !ownPage) return blocked();
    return new ServiceNotRunningError('service_not_running',
        'the card service is not running on this computer (idcard serve)');
  } finally {
    clearTimeout(timer);
  }
}

// ---- Requests ----------------------------------------------------------------------------------

function settings(options = {}) {
  const service = String(options.service ?? DEFAULT_SERVICE).replace(/\/+$/, '');
  const fetchImpl = options.fetch ?? globalThis.fetch.bind(globalThis);
  return { service, fetchImpl, signal: options.signal };
}

async function getJson(path, options) {
  const { service, fetchImpl, signal } = settings(options);
  let res;
  try {
    res = await fetchImpl(service + path, { cache: 'no-store', signal });
  } catch (err) {
    if (signal && signal.aborted) throw err;
    throw await unreachable(service, fetchImpl);
  }
  if (!res.ok) throw await errorFromResponse(res);
  return res.json();
}

// One full read of the card on the reader.
export function readCard(options) {
  return getJson('/api/v1/card', options);
}

// Whether a reader answers on the service's port (no card is read).
export function readerStatus(options) {
  return getJson('/api/v1/reader', options);
}

// The card's photo as a URL for an <img>, or null when the card has none.
export function photoURL(doc) {
  const photo = doc && doc.photo;
  return photo ? `data:${photo.media_type};base64,${photo.base64}` : null;
}

// ---- Card events ---------------------------------------------------------------------------

// Splits a Server-Sent Events stream into its events: feed() it text as it comes, it calls
// onEvent(name, data) for each whole event and onRetry(ms) when the service sets the delay.
export function eventParser(onEvent, onRetry = () => {}) {
  let buffer = '';
  let name = '';
  let data = [];
  const line = (text) => {
    if (text === '') {
      if (data.length) onEvent(name || 'message', data.join('\n'));
      name = '';
      data = [];
      return;
    }
    if (text.startsWith(':')) return;  // a comment: the service's keep-alive
    const colon = text.indexOf(':');
    const field = colon < 0 ? text : text.slice(0, colon);
    let value = colon < 0 ? '' : text.slice(colon + 1);
    if (value.startsWith(' ')) value = value.slice(1);
    if (field === 'event') name = value;
    else if (field === 'data') data.push(value);
    else if (field === 'retry' && /^\d+$/.test(value)) onRetry(Number(value));
  };
  return {
    feed(text) {
      buffer += text;
      let end;
      while ((end = buffer.search(/\r\n|\r|\n/)) >= 0) {
        // A CR at the very end may be the first half of CR LF: wait for what follows.
        if (buffer[end] === '\r' && end === buffer.length - 1) break;
        const next = buffer.startsWith('\r\n', end) ? end + 2 : end + 1;
        line(buffer.slice(0, end));
        buffer = buffer.slice(next);
      }
    },
  };
}

// Watches the reader: handlers.card(doc) for each card placed, handlers.error(err) when the
// reader fails or the service cannot be reached (the watch goes on and reconnects by itself),
// handlers.ready() when the reader answers again, handlers.open() once connected. Returns
// { close() }.
export function watchCards(handlers = {}, options = {}) {
  const { service, fetchImpl } = settings(options);
  // A handler that throws must not end the watch: its error is reported on its own.
  const call = (name, ...args) => {
    if (typeof handlers[name] !== 'function') return;
    try {
      handlers[name](...args);
    } catch (err) {
      setTimeout(() => { throw err; });
    }
  };
  const controller = new AbortController();
  let retryMs = options.retryMs ?? DEFAULT_RETRY_MS;
  let timer = null;
  let closed = false;

  const dispatch = (name, data) => {
    let doc = null;
    try {
      doc = JSON.parse(data);
    } catch {
      return;  // not an event of this service
    }
    if (name === 'card') call('card', doc);
    else if (name === 'error') call('error', errorFromDocument(doc));
    else if (name === 'ready') call('ready');
  };

  const again = (ms) => {
    if (!closed) timer = setTimeout(connect, ms);
  };

  async function connect() {
    timer = null;
    let res;
    try {
      res = await fetchImpl(service + '/api/v1/events', {
        cache: 'no-store', signal: controller.signal, headers: { Accept: 'text/event-stream' },
      });
    } catch {
      if (closed) return;
      call('error', await unreachable(service, fetchImpl));
      return again(retryMs);
    }
    if (!res.ok) {
      const err = await errorFromResponse(res);
      call('error', err);
      return again(err instanceof BusyError ? Math.max(err.retryAfter * 1000, 250) : retryMs);
    }
    call('open');
    const parser = eventParser(dispatch, (ms) => { retryMs = ms; });
    const decoder = new TextDecoder();
    try {
      const reader = res.body.getReader();
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        parser.feed(decoder.decode(value, { stream: true }));
      }
    } catch {
      // the connection broke: reconnect below
    }
    if (closed) return;
    call('error', new ServiceNotRunningError('service_not_running',
        'the connection to the card service was lost; reconnecting'));
    again(retryMs);
  }

  connect();
  return {
    close() {
      closed = true;
      if (timer) clearTimeout(timer);
      controller.abort();
    },
  };
}
