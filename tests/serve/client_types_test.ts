// Compiled (never run) against the client's declarations: what a page writes must type-check, and
// each line marked @ts-expect-error must be refused, or the declarations are too loose.
import {
  BlockedByBrowserError, BusyError, CardServiceError, photoURL, readCard, readerStatus, watchCards,
  type CardDocument, type ErrorKind,
} from '../../tools/client/index.js';

export async function page(): Promise<string> {
  const doc: CardDocument = await readCard({ service: 'http://127.0.0.1:8089' });
  const id: string = doc.card.id_number;
  const sexCode: number | null = doc.card.sex_code;
  const appended: string | null = doc.card.appended_address;
  // @ts-expect-error a card may have no appended address
  const mustCheck: string = doc.card.appended_address;
  const photo: string | null = photoURL(doc);
  // @ts-expect-error a card may have no photo
  const width: number = doc.photo.width;
  const reader = await readerStatus({ signal: new AbortController().signal });
  const port: number = reader.port;
  try {
    await readCard();
  } catch (err) {
    if (err instanceof BusyError) {
      const seconds: number = err.retryAfter;
      const kind: 'busy' = err.kind;
    } else if (err instanceof BlockedByBrowserError) {
      const kind: 'blocked_by_browser' = err.kind;
    } else if (err instanceof CardServiceError) {
      const kind: ErrorKind = err.kind;
      const code: number | null = err.code;
    }
  }
  const watch = watchCards({
    card: (d) => { const name: string = d.card.name; },
    error: (e) => { const kind: ErrorKind = e.kind; },
    ready: () => {},
    open: () => {},
  }, { service: 'http://localhost:8089', retryMs: 1000 });
  watch.close();
  // @ts-expect-error no such handler
  watchCards({ removed: () => {} });
  // @ts-expect-error the service's address is a text
  await readCard({ service: 8089 });
  // @ts-expect-error a card has no such field
  const missing = doc.card.photo;
  return [id, sexCode, appended, mustCheck, photo, width, port, missing].join();
}
