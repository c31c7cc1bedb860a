// The demo page: shows the card placed on the reader, or one read on request, through the client.
// Chinese unless the browser prefers English; what went wrong in words a clerk understands, the
// technical details folded away.
import { watchCards, readCard, photoURL, NoCardError, BusyError } from '/client/v1/ridel-card.js';

const TEXTS = {
  zh: {
    title: '身份证读卡',
    read: '立即读卡',
    details: '详细信息',
    reading: '正在读卡…',
    states: {
      connecting: ['正在连接读卡服务…', ''],
      waiting: ['请将身份证放在读卡器上', '放好后会自动读取。'],
      card: ['已读取身份证', ''],
      no_card: ['读卡器上没有身份证', '请将身份证平放在读卡器上。'],
      no_reader: ['未找到读卡器', '请检查读卡器的连接线和电源，接好后会自动恢复。'],
      busy: ['读卡器正忙', '请稍候，马上自动重试。'],
      read_failed: ['读卡失败', '请把身份证取下后重新放好。'],
      reader_timeout: ['读卡器没有响应', '读卡服务已重新启动读卡程序，会自动重试。'],
      reader_crashed: ['读卡程序意外退出', '读卡服务已重新启动读卡程序，会自动重试。'],
      service_not_running: ['读卡服务没有运行', '请联系管理员启动本机的读卡服务，启动后会自动连接。'],
      blocked_by_browser: ['浏览器阻止了本网页使用读卡器',
        '请在浏览器地址栏左侧的网站设置中允许“本地网络访问”，然后刷新本页。'],
      refused: ['读卡服务不接受本网页', '请联系管理员把本网站加入读卡服务的允许列表。'],
      internal: ['读卡服务出错', '请联系管理员。'],
    },
    fields: {
      name: '姓名', sex: '性别', nation: '民族', birth: '出生日期', address: '住址',
      id_number: '公民身份号码', authority: '签发机关', validity: '有效期限',
      appended_address: '新住址',
    },
  },
  en: {
    title: 'Identity card reader',
    read: 'Read the card now',
    details: 'Details',
    reading: 'Reading the card…',
    states: {
      connecting: ['Connecting to the card reader service…', ''],
      waiting: ['Place the identity card on the reader', 'It is read as soon as it lies there.'],
      card: ['Identity card read', ''],
      no_card: ['There is no card on the reader', 'Lay the identity card flat on the reader.'],
      no_reader: ['No card reader found',
        "Check the reader's cable and power; the page carries on once it is back."],
      busy: ['The card reader is busy', 'Please wait: the page tries again by itself.'],
      read_failed: ['The card could not be read', 'Take the card off and place it again.'],
      reader_timeout: ['The card reader does not answer',
        'The service restarted its reader program; the page tries again by itself.'],
      reader_crashed: ['The card reader program stopped',
        'The service restarted its reader program; the page tries again by itself.'],
      service_not_running: ['The card reader service is not running',
        'Ask your administrator to start it on this computer; the page connects once it runs.'],
      blocked_by_browser: ['The browser blocked this page from the card reader',
        'Allow "local network access" for this site in the browser\'s site settings (left of ' +
        'the address), then reload the page.'],
      refused: ['The card reader service does not accept this page',
        'Ask your administrator to add this site to the service\'s allowed sites.'],
      internal: ['The card reader service failed', 'Ask your administrator.'],
    },
    fields: {
      name: 'Name', sex: 'Sex', nation: 'Ethnicity', birth: 'Date of birth', address: 'Address',
      id_number: 'ID number', authority: 'Issued by', validity: 'Valid', appended_address:
        'New address',
    },
  },
};

// Chinese first: English only when the browser's preferred language, of these two, is English.
function language() {
  const preferred = navigator.languages && navigator.languages.length ? navigator.languages
    : [navigator.language || ''];
  for (const tag of preferred) {
    const lang = String(tag).toLowerCase();
    if (lang.startsWith('zh')) return 'zh';
    if (lang.startsWith('en')) return 'en';
  }
  return 'zh';
}

const lang = language();
const T = TEXTS[lang];
// The service the page talks to: its own, unless the page that embeds it names another.
const service = document.documentElement.dataset.service || location.origin;
const $ = (id) => document.getElementById(id);

document.documentElement.lang = lang === 'zh' ? 'zh-CN' : 'en';
document.title = T.title;
$('title').textContent = T.title;
$('read').textContent = T.read;
$('details-label').textContent = T.details;

function setState(state, detail = '') {
  const [message, hint] = T.states[state] || T.states.internal;
  document.body.dataset.state = state;
  $('message').textContent = message;
  $('hint').textContent = hint;
  $('detail').textContent = detail;
  $('details').hidden = !detail;
  if (state !== 'card') $('card').hidden = true;
}

// The technical side of an error, for whoever supports the desk.
function detailOf(err) {
  const parts = [err.kind];
  if (err.status) parts.push('HTTP ' + err.status);
  if (err.call) parts.push(err.call + ' → ' + err.code);
  if (err.message) parts.push(err.message);
  return parts.join(' · ');
}

function showError(err) {
  const state = err instanceof NoCardError ? 'no_card'
    : err && T.states[err.kind] ? err.kind : 'internal';
  setState(state, err ? detailOf(err) : '');
}

function showCard(doc) {
  const c = doc.card;
  const rows = [
    ['name', c.name], ['sex', c.sex], ['nation', c.nation], ['birth', c.birth],
    ['address', c.address], ['id_number', c.id_number], ['authority', c.authority],
    ['validity', [c.valid_from, c.valid_to].filter(Boolean).join(' – ')],
    ['appended_address', c.appended_address],
  ];
  const fields = $('fields');
  fields.replaceChildren();
  for (const [key, value] of rows) {
    if (value === null || value === undefined || value === '') continue;
    const dt = document.createElement('dt');
    dt.textContent = T.fields[key];
    const dd = document.createElement('dd');
    dd.textContent = value;  // text, never markup: the card's fields are data
    dd.dataset.field = key;
    fields.append(dt, dd);
  }
  // The photo shows only once it decoded: never a broken image.
  const photo = $('photo');
  photo.hidden = true;
  photo.removeAttribute('data-loaded');
  photo.alt = c.name;
  const url = photoURL(doc);
  if (url) {
    photo.onload = () => {
      photo.dataset.loaded = photo.naturalWidth + 'x' + photo.naturalHeight;
      photo.hidden = false;
    };
    photo.onerror = () => { photo.hidden = true; };
    photo.src = url;
  } else {
    photo.removeAttribute('src');
  }
  setState('card', doc.edition + ' edition');
  $('card').hidden = false;
}

watchCards({
  open: () => setState('waiting'),
  card: showCard,
  ready: () => setState('waiting'),
  error: showError,
}, { service });

$('read').addEventListener('click', async () => {
  setState('connecting');
  $('message').textContent = T.reading;
  try {
    showCard(await readCard({ service }));
  } catch (err) {
    showError(err);
    if (err instanceof BusyError) setTimeout(() => $('read').click(), err.retryAfter * 1000);
  }
});
