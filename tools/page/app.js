// The demo page: shows the card that the event stream reports, or one read on request.
'use strict';

const LABELS = [
  ['name', '姓名 Name'], ['sex', '性别 Sex'], ['nation', '民族 Nation'], ['birth', '出生 Born'],
  ['address', '住址 Address'], ['id_number', '公民身份号码 ID number'],
  ['authority', '签发机关 Authority'], ['valid_from', '有效期自 Valid from'],
  ['valid_to', '有效期至 Valid to'], ['appended_address', '附加地址 Appended address'],
];

const status = document.getElementById('status');

function setStatus(text, state) {
  status.textContent = text;
  status.dataset.state = state;
}

function showCard(doc) {
  const fields = document.getElementById('fields');
  fields.replaceChildren();
  for (const [key, label] of LABELS) {
    const value = doc.card[key];
    if (value === null || value === undefined || value === '') continue;
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.textContent = value;  // text, never markup: the card's fields are data
    dd.dataset.field = key;
    fields.append(dt, dd);
  }
  const photo = document.getElementById('photo');
  photo.removeAttribute('data-loaded');
  if (doc.photo) {
    photo.onload = () => { photo.dataset.loaded = photo.naturalWidth + 'x' + photo.naturalHeight; };
    photo.src = 'data:' + doc.photo.media_type + ';base64,' + doc.photo.base64;
  } else {
    photo.removeAttribute('src');
  }
  document.getElementById('card').hidden = false;
  setStatus('Card read by the ' + doc.edition + ' edition', 'card');
}

function showError(doc) {
  const e = doc.error || {};
  setStatus((e.message || 'the reader failed') + (e.call ? ' (' + e.call + ': ' + e.code + ')' : ''),
            'error');
}

const events = new EventSource('/api/v1/events');
events.addEventListener('open', () => setStatus('Waiting for a card…', 'waiting'));
events.addEventListener('card', (e) => showCard(JSON.parse(e.data)));
events.addEventListener('error', (e) => {
  if (e.data) showError(JSON.parse(e.data));  // a reader error sent by the service
  else setStatus('The reader service cannot be reached; retrying…', 'error');
});
events.addEventListener('ready', () => setStatus('The reader answers again', 'waiting'));

document.getElementById('read').addEventListener('click', async () => {
  setStatus('Reading…', 'waiting');
  try {
    const res = await fetch('/api/v1/card', { cache: 'no-store' });
    const doc = await res.json();
    if (res.ok) showCard(doc); else showError(doc);
  } catch (err) {
    setStatus('The reader service cannot be reached', 'error');
  }
});
