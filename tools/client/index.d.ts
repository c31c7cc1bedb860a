// Types of the browser client of the local card reader service (index.js).

/** Where the service listens, as `http://host:port`. */
export declare const DEFAULT_SERVICE: 'http://127.0.0.1:8089';

export interface ClientOptions {
  /** The service's address; default `http://127.0.0.1:8089`. */
  service?: string;
  /** The fetch function to use; default the global one. */
  fetch?: typeof fetch;
  /** Aborts the request. */
  signal?: AbortSignal;
}

/** The holder's fields, the same for every edition. Dates are `YYYY-MM-DD`. */
export interface Card {
  name: string;
  sex: string;
  sex_code: number | null;
  nation: string;
  nation_code: number | null;
  birth: string;
  address: string;
  id_number: string;
  authority: string;
  valid_from: string;
  /** A date, or a text such as 长期 for a card without end. */
  valid_to: string;
  /** null when the card has none or the edition's read does not take it. */
  appended_address: string | null;
}

/** The decoded photo, a bitmap. */
export interface Photo {
  media_type: string;
  width: number;
  height: number;
  size: number;
  base64: string;
}

export interface CardDocument {
  edition: string;
  card: Card;
  photo: Photo | null;
  /** The edition's own texts, as it gave them. */
  edition_texts: Record<string, string | null>;
}

export interface ReaderStatus {
  edition: string;
  port: number;
  reader: 'ready';
}

/** What went wrong. `refused`: the service does not accept this page (its Host or Origin).
 * `reader_timeout`, `reader_crashed`: the service's reader program hung or ended; it is started
 * anew for the next request. */
export type ErrorKind =
  | 'no_card'
  | 'no_reader'
  | 'busy'
  | 'read_failed'
  | 'reader_timeout'
  | 'reader_crashed'
  | 'refused'
  | 'blocked_by_browser'
  | 'service_not_running'
  | 'internal'
  | (string & {});

export declare class CardServiceError extends Error {
  readonly kind: ErrorKind;
  /** The HTTP status, when the service answered. */
  readonly status: number | null;
  /** The step of the read that failed: open, authenticate, select, read. */
  readonly step: string | null;
  /** The library call that failed, and its own result code. */
  readonly call: string | null;
  readonly code: number | null;
  constructor(kind: ErrorKind, message: string, details?: {
    status?: number | null; step?: string | null; call?: string | null; code?: number | null;
    retryAfter?: number | null;
  });
}
/** No card on the reader. */
export declare class NoCardError extends CardServiceError { readonly kind: 'no_card'; }
/** No reader answers on the service's port. */
export declare class NoReaderError extends CardServiceError { readonly kind: 'no_reader'; }
/** Too many requests wait for the reader: try again after `retryAfter` seconds. */
export declare class BusyError extends CardServiceError {
  readonly kind: 'busy';
  readonly retryAfter: number;
}
/** The card is there but its read failed. */
export declare class ReadFailedError extends CardServiceError { readonly kind: 'read_failed'; }
/** The service refuses this page: its origin is not allowed (`--allow-origin`), or its Host. */
export declare class RefusedError extends CardServiceError { readonly kind: 'refused'; }
/** The browser does not let this page reach the local network (Local Network Access). */
export declare class BlockedByBrowserError extends CardServiceError {
  readonly kind: 'blocked_by_browser';
}
/** Nothing answers at the service's address. */
export declare class ServiceNotRunningError extends CardServiceError {
  readonly kind: 'service_not_running';
}

/** Reads the card on the reader. Rejects with a CardServiceError. */
export declare function readCard(options?: ClientOptions): Promise<CardDocument>;
/** Whether a reader answers (no card is read). Rejects with a CardServiceError. */
export declare function readerStatus(options?: ClientOptions): Promise<ReaderStatus>;
/** The photo as a `data:` URL for an image, or null. */
export declare function photoURL(doc: CardDocument): string | null;
/** The typed error of a service's error document `{"error": {...}}`. */
export declare function errorFromDocument(
  doc: unknown, status?: number | null, retryAfter?: number | null): CardServiceError;

export interface WatchHandlers {
  /** A card was placed (each card once, until it is taken off). */
  card?(doc: CardDocument): void;
  /** The reader failed, or the service cannot be reached; the watch goes on by itself. */
  error?(error: CardServiceError): void;
  /** The reader answers again after an error. */
  ready?(): void;
  /** Connected to the service: waiting for a card. */
  open?(): void;
}

export interface WatchOptions extends Omit<ClientOptions, 'signal'> {
  /** How long to wait before reconnecting, until the service says otherwise; default 2000. */
  retryMs?: number;
}

export interface Watch {
  /** Stops watching. */
  close(): void;
}

/** Watches the reader for cards through the service's event stream, reconnecting as needed. */
export declare function watchCards(handlers?: WatchHandlers, options?: WatchOptions): Watch;

/** A Server-Sent Events parser: feed() it text, it calls onEvent for each whole event. */
export declare function eventParser(
  onEvent: (name: string, data: string) => void,
  onRetry?: (ms: number) => void): { feed(text: string): void };
