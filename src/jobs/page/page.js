'use strict';
// The page of cscunpack --serve: every file of the tree, searched, filtered and sorted in the
// browser, played and checked from the server. Patterns are matched by the server, with the very
// rules of -i; plain words here.

const ROW = 28; // the height of a row, as page.css has it
const FACETS = ['archive', 'tag', 'mission', 'format'];
const state = {
  info: {}, files: [], byId: new Map(), matches: [], current: -1, sort: 'path', down: false,
  ticked: new Set(), patterns: new Map(), verdicts: new Map(), searchRun: 0,
};
const $ = (id) => document.getElementById(id);

// A line for the user; an error stands out.
function say(text, error = true) {
  $('message').textContent = text || '';
  $('message').classList.toggle('error', Boolean(error));
}

function readHash() {
  const params = {};
  for (const part of location.hash.replace(/^#/, '').split('&')) {
    if (!part) continue;
    const at = part.indexOf('=');
    const key = decodeURIComponent(at < 0 ? part : part.slice(0, at));
    params[key] = at < 0 ? '' : decodeURIComponent(part.slice(at + 1).replace(/\+/g, ' '));
  }
  return params;
}

function hashOf(params) {
  return Object.entries(params).filter(([, v]) => v !== '' && v !== undefined)
    .map(([k, v]) => encodeURIComponent(k) + '=' + encodeURIComponent(v)).join('&');
}

async function getJson(url) {
  const response = await fetch(url, { credentials: 'same-origin' });
  if (!response.ok) throw new Error(url + ': ' + response.status);
  return response.json();
}

function size(bytes) {
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let k = 0;
  while (bytes >= 1024 && k < units.length - 1) { bytes /= 1024; ++k; }
  return (k === 0 ? bytes : bytes.toFixed(1)) + ' ' + units[k];
}

function nameOf(path) { return path.slice(path.lastIndexOf('/') + 1); }

// A word with *, ?, [ or / is one of the tool's patterns; the rest match anywhere in the path.
function isPattern(word) { return /[*?[\/\\]/.test(word); }

async function patternIds(word) {
  if (!state.patterns.has(word)) {
    state.patterns.set(word, getJson('/api/match?i=' + encodeURIComponent(word))
      .then((ids) => new Set(ids)));
  }
  return state.patterns.get(word);
}

function facetValues(file, facet) {
  if (facet === 'tag') return file.tags || [];
  if (facet === 'mission') return file.mission === null ? [] : [file.mission];
  if (facet === 'format') return [file.format === null ? 'bare' : file.format];
  return [file.archive];
}

function chosenFacets() {
  const chosen = {};
  for (const facet of FACETS) chosen[facet] = $(facet).value;
  return chosen;
}

async function apply() {
  const run = ++state.searchRun;
  const query = $('search').value.trim();
  const words = query ? query.split(/\s+/) : [];
  const plain = words.filter((w) => !isPattern(w)).map((w) => w.toLowerCase());
  let sets = [];
  try {
    sets = await Promise.all(words.filter(isPattern).map(patternIds));
  } catch (error) {
    say('The search could not be run: ' + error.message);
  }
  if (run !== state.searchRun) return; // a later search has begun
  const chosen = chosenFacets();
  const counts = {};
  for (const facet of FACETS) counts[facet] = new Map();
  const matches = [];
  for (const file of state.files) {
    if (!plain.every((w) => file.lower.includes(w)) || !sets.every((s) => s.has(file.id))) continue;
    // Each facet counts the files that every other choice takes.
    const passes = FACETS.map((f) => !chosen[f] || facetValues(file, f).includes(chosen[f]));
    FACETS.forEach((facet, k) => {
      if (!passes.every((p, j) => p || j === k)) return;
      for (const value of new Set(facetValues(file, facet))) {
        counts[facet].set(value, (counts[facet].get(value) || 0) + 1);
      }
    });
    if (passes.every(Boolean)) matches.push(file);
  }
  for (const facet of FACETS) fillFacet(facet, counts[facet], chosen[facet]);
  sortMatches(matches);
  state.matches = matches;
  state.current = -1;
  $('count').textContent = String(matches.length);
  $('bytes').textContent = size(matches.reduce((sum, f) => sum + f.size, 0));
  $('list').scrollTop = 0;
  $('spacer').style.height = (matches.length * ROW) + 'px';
  draw();
  showCommand();
  remember();
}

function fillFacet(facet, counts, chosen) {
  const select = $(facet);
  const entries = [...counts.entries()].sort((a, b) => (a[0] < b[0] ? -1 : 1));
  if (chosen && !counts.has(chosen)) entries.unshift([chosen, 0]);
  select.replaceChildren(new Option('every ' + facet, ''),
    ...entries.map(([value, n]) => new Option(value + ' (' + n + ')', value)));
  select.value = chosen;
}

function sortMatches(matches) {
  const key = state.sort;
  const value = (f) => (key === 'tags' ? (f.tags || []).join(' ') : f[key]);
  const sign = state.down ? -1 : 1;
  matches.sort((a, b) => {
    const x = value(a); const y = value(b);
    if (x === y) return a.id - b.id;
    if (x === null || x === undefined) return 1;
    if (y === null || y === undefined) return -1;
    return (x < y ? -1 : 1) * sign;
  });
  for (const span of document.querySelectorAll('[data-sort]')) {
    span.classList.toggle('sorted', span.dataset.sort === key);
    span.classList.toggle('down', span.dataset.sort === key && state.down);
  }
}

// Only the rows in view are drawn, whatever the number of matches.
function draw() {
  const list = $('list');
  const first = Math.max(0, Math.floor(list.scrollTop / ROW) - 5);
  const last = Math.min(state.matches.length, first + Math.ceil(list.clientHeight / ROW) + 10);
  const rows = [];
  for (let k = first; k < last; ++k) rows.push(rowOf(state.matches[k], k));
  const holder = $('rows');
  holder.style.top = (first * ROW) + 'px';
  holder.replaceChildren(...rows);
}

function cell(kind, text) {
  const span = document.createElement('span');
  span.className = kind;
  span.textContent = text === null || text === undefined ? '' : String(text);
  span.title = span.textContent;
  return span;
}

function rowOf(file, index) {
  const row = document.createElement('div');
  row.className = 'row';
  row.dataset.id = String(file.id);
  row.dataset.index = String(index);
  const verdict = state.verdicts.get(file.id);
  if (index === state.current) row.classList.add('current');
  if (verdict) row.classList.add(verdict.ok ? 'whole' : 'damaged');
  const tick = document.createElement('input');
  tick.type = 'checkbox';
  tick.checked = state.ticked.has(file.id);
  tick.setAttribute('aria-label', 'Tick');
  const tickCell = cell('tick', '');
  tickCell.append(tick);
  const take = cell('take', '');
  const link = document.createElement('a');
  link.href = fileUrl(file);
  link.download = nameOf(file.path);
  link.textContent = 'save';
  const check = document.createElement('button');
  check.type = 'button';
  check.textContent = 'check';
  check.className = 'check';
  take.append(link, check);
  const path = cell('path', '');
  const isolated = document.createElement('bdi');
  isolated.textContent = file.path;
  path.title = file.path;
  path.append(isolated);
  row.append(tickCell, path, cell('archive', file.archive),
    cell('size num', file.size), cell('format', file.format), cell('tags', (file.tags || []).join(', ')),
    cell('mission', file.mission), cell('codec', file.codec), cell('channels num', file.channels),
    cell('rate num', file.rate), cell('seconds num', file.seconds), take);
  if (verdict && !verdict.ok) row.title = verdict.problem;
  return row;
}

function fileUrl(file) {
  return '/files/' + file.id + '/' + encodeURIComponent(nameOf(file.path));
}

async function play(index) {
  if (index < 0 || index >= state.matches.length) return;
  state.current = index;
  const file = state.matches[index];
  const list = $('list');
  if (index * ROW < list.scrollTop || (index + 1) * ROW > list.scrollTop + list.clientHeight) {
    list.scrollTop = Math.max(0, index * ROW - list.clientHeight / 2);
  }
  draw();
  say('');
  $('now').textContent = file.path;
  const player = $('player');
  player.src = fileUrl(file);
  player.play().catch(() => {}); // the error event says why
  drawWave(file);
}

function playerError() {
  const player = $('player');
  if (!player.error || !player.src) return;
  const file = state.matches[state.current];
  const why = {
    1: 'the loading was stopped', 2: 'the server could not send it',
    3: 'its bytes could not be decoded (a damaged file?)',
    4: 'the browser does not play this kind of sound' + (file && file.codec ? ' (' + file.codec + ')' : ''),
  }[player.error.code] || 'an error';
  say('This file cannot be played here: ' + why + '.');
}

async function drawWave(file) {
  const canvas = $('wave');
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  if (file.size > 64 * 1024 * 1024) return; // too large to decode in the page
  try {
    const response = await fetch(fileUrl(file), { credentials: 'same-origin' });
    const bytes = await response.arrayBuffer();
    const Audio = window.AudioContext || window.webkitAudioContext;
    state.audio = state.audio || new Audio();
    const decoded = await state.audio.decodeAudioData(bytes);
    if (state.matches[state.current] !== file) return;
    const data = decoded.getChannelData(0);
    const step = Math.max(1, Math.floor(data.length / canvas.width));
    const middle = canvas.height / 2;
    context.fillStyle = '#3b6db3';
    for (let x = 0; x < canvas.width; ++x) {
      let low = 0; let high = 0;
      for (let k = x * step; k < Math.min(data.length, (x + 1) * step); ++k) {
        low = Math.min(low, data[k]); high = Math.max(high, data[k]);
      }
      context.fillRect(x, middle - high * middle, 1, Math.max(1, (high - low) * middle));
    }
  } catch (error) {
    if (state.matches[state.current] === file) {
      say('The browser cannot decode this sound (' + (file.codec || 'unknown codec') + ').');
    }
  }
}

async function check(file) {
  const verdict = await getJson('/api/check/' + file.id);
  state.verdicts.set(file.id, verdict);
  return verdict;
}

async function checkAll() {
  const files = state.matches.slice();
  const progress = $('progress');
  progress.hidden = false;
  progress.max = files.length;
  progress.value = 0;
  let next = 0; let damaged = 0;
  const worker = async () => {
    while (next < files.length) {
      const file = files[next++];
      try {
        if (!(await check(file)).ok) ++damaged;
      } catch (error) { say('A check failed: ' + error.message); }
      progress.value += 1;
      if (progress.value % 50 === 0) draw();
    }
  };
  await Promise.all([worker(), worker(), worker(), worker()]);
  progress.hidden = true;
  draw();
  say(files.length + ' files checked, ' + damaged + ' damaged', damaged > 0);
}

// The files to take: the rows ticked, else every match.
function chosen() {
  const ticked = state.matches.filter((f) => state.ticked.has(f.id));
  return ticked.length > 0 ? ticked : state.matches;
}

function idRanges(files) {
  const ids = files.map((f) => f.id).sort((a, b) => a - b);
  const parts = [];
  for (let k = 0; k < ids.length;) {
    let end = k;
    while (end + 1 < ids.length && ids[end + 1] === ids[end] + 1) ++end;
    parts.push(end > k ? ids[k] + '-' + ids[end] : String(ids[k]));
    k = end + 1;
  }
  return parts.join(',');
}

function downloadZip() {
  const files = chosen();
  if (files.length === 0) return say('Nothing to take.');
  const url = '/zip?id=' + idRanges(files);
  if (url.length > 7000) {
    return say('These ' + files.length + ' files lie too scattered for one address: narrow the search, or tick fewer.');
  }
  const link = document.createElement('a');
  link.href = url;
  link.download = 'cscunpack.zip';
  document.body.append(link);
  link.click();
  link.remove();
}

// The command line that extracts the same files: whole folders where every file of one is
// taken, else the files themselves, each as a pattern anchored at the output folder.
function showCommand() {
  const files = chosen();
  const taken = new Set(files.map((f) => f.id));
  const root = { folders: new Map(), files: [], total: 0, taken: 0 };
  for (const file of state.files) {
    let node = root;
    const parts = file.path.split('/');
    for (const part of parts.slice(0, -1)) {
      node.total += 1; if (taken.has(file.id)) node.taken += 1;
      if (!node.folders.has(part)) node.folders.set(part, { folders: new Map(), files: [], total: 0, taken: 0 });
      node = node.folders.get(part);
    }
    node.total += 1; if (taken.has(file.id)) node.taken += 1;
    node.files.push(file);
  }
  const patterns = [];
  const walk = (node, path) => {
    if (node.taken === 0) return;
    if (node.taken === node.total && path) { patterns.push(path + '/'); return; }
    for (const [name, child] of node.folders) walk(child, path ? path + '/' + name : name);
    for (const file of node.files) if (taken.has(file.id)) patterns.push(file.path);
  };
  if (taken.size < state.files.length) walk(root, '');
  const windows = state.info.separator === '\\';
  const quote = (text) => (windows ? '"' + text + '"' : "'" + text.replace(/'/g, "'\\''") + "'");
  const escape = (text) => text.replace(/[*?[\\]/g, (c) => '[' + c + ']');
  const words = ['cscunpack'];
  if (state.info.raw) words.push('-r');
  if (state.info.archives) words.push('-a', quote(state.info.archives));
  for (const p of state.info.include || []) words.push('-i', quote(p));
  for (const p of state.info.exclude || []) words.push('-x', quote(p));
  for (const p of patterns.slice(0, 500)) words.push('-i', quote(escape(p)));
  words.push('-d', 'out');
  $('command').value = patterns.length > 500 ? 'too many files to name: narrow the search' : words.join(' ');
  $('chosen').textContent = state.ticked.size > 0 ? state.ticked.size + ' ticked' : '';
}

let remembering = 0;
function remember() {
  clearTimeout(remembering);
  remembering = setTimeout(() => {
    const params = { q: $('search').value, sort: (state.down ? '-' : '') + state.sort };
    for (const facet of FACETS) params[facet] = $(facet).value;
    if (params.sort === 'path') delete params.sort;
    const hash = hashOf(params);
    if (location.hash.replace(/^#/, '') !== hash) location.hash = hash;
  }, 400);
}

function restore() {
  const params = readHash();
  $('search').value = params.q || '';
  for (const facet of FACETS) {
    const select = $(facet);
    if (params[facet] && ![...select.options].some((o) => o.value === params[facet])) {
      select.append(new Option(params[facet], params[facet]));
    }
    select.value = params[facet] || '';
  }
  const sort = params.sort || 'path';
  state.down = sort.startsWith('-');
  state.sort = sort.replace(/^-/, '');
}

function wire() {
  let typing = 0;
  $('search').addEventListener('input', () => { clearTimeout(typing); typing = setTimeout(apply, 150); });
  for (const facet of FACETS) $(facet).addEventListener('change', apply);
  $('list').addEventListener('scroll', () => requestAnimationFrame(draw));
  window.addEventListener('resize', draw);
  window.addEventListener('hashchange', () => {
    const params = readHash();
    if ((params.q || '') !== $('search').value || FACETS.some((f) => (params[f] || '') !== $(f).value)) {
      restore(); apply();
    }
  });
  $('columns').addEventListener('click', (event) => {
    const key = event.target.dataset && event.target.dataset.sort;
    if (!key) return;
    state.down = state.sort === key ? !state.down : false;
    state.sort = key;
    sortMatches(state.matches);
    draw();
    remember();
  });
  $('tickall').addEventListener('change', (event) => {
    for (const file of state.matches) {
      if (event.target.checked) state.ticked.add(file.id); else state.ticked.delete(file.id);
    }
    draw(); showCommand();
  });
  $('rows').addEventListener('click', async (event) => {
    const row = event.target.closest('.row');
    if (!row) return;
    const index = Number(row.dataset.index);
    const file = state.matches[index];
    if (event.target.type === 'checkbox') {
      if (event.target.checked) state.ticked.add(file.id); else state.ticked.delete(file.id);
      showCommand();
      return;
    }
    if (event.target.tagName === 'A') return;
    if (event.target.classList.contains('check')) {
      try {
        const verdict = await check(file);
        say(file.path + ': ' + (verdict.ok ? 'whole' : verdict.problem), !verdict.ok);
      } catch (error) { say('The check failed: ' + error.message); }
      draw();
      return;
    }
    play(index);
  });
  $('player').addEventListener('error', playerError);
  $('zip').addEventListener('click', downloadZip);
  $('checkall').addEventListener('click', checkAll);
  $('copy').addEventListener('click', () => {
    $('command').select();
    (navigator.clipboard ? navigator.clipboard.writeText($('command').value) : Promise.reject())
      .catch(() => document.execCommand('copy'));
  });
  document.addEventListener('keydown', (event) => {
    const typingInto = ['INPUT', 'SELECT', 'TEXTAREA'].includes(event.target.tagName) &&
      event.target.type !== 'checkbox';
    if (typingInto && event.key !== 'ArrowDown' && event.key !== 'ArrowUp') return;
    if (event.key === 'ArrowDown') { event.preventDefault(); play(state.current + 1); }
    else if (event.key === 'ArrowUp') { event.preventDefault(); play(Math.max(0, state.current - 1)); }
    else if (event.key === 'Enter') { play(Math.max(0, state.current)); }
    else if (event.key === ' ') {
      event.preventDefault();
      const player = $('player');
      if (player.paused) player.play().catch(() => {}); else player.pause();
    }
  });
}

async function start() {
  wire();
  // The token arrives in the address's fragment, which no request carries; it is traded once for
  // a session cookie, which every request then carries, and taken out of the address.
  const params = readHash();
  if (params.token) {
    const response = await fetch('/api/session', { headers: { Authorization: 'Bearer ' + params.token } });
    delete params.token;
    history.replaceState(null, '', '#' + hashOf(params));
    if (!response.ok) say('The token in the address was not accepted.');
  }
  try {
    state.info = await getJson('/api/info');
    say('Reading the list of files...', false);
    state.files = await getJson('/api/files');
  } catch (error) {
    say('Open the address that cscunpack --serve printed, with its #token (' + error.message + ').');
    return;
  }
  for (const file of state.files) {
    file.lower = file.path.toLowerCase();
    state.byId.set(file.id, file);
  }
  say('');
  restore();
  await apply();
}

start();
