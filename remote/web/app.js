// SPDX-License-Identifier: GPL-3.0-or-later
'use strict';
// The station's web page: a view of the state the API pushes, and buttons
// that send its commands. Every text from the station goes in as textContent.

const methods = [
  ['specified', "Track the radio's frequency"], ['full to dx grid', 'Full Doppler to DX grid'],
  ['own echo', 'Own echo'], ['constant on moon', 'Constant frequency on Moon'],
  ['on dx echo', 'On DX echo'], ['call dx', 'Call DX'],
];
const $ = (id) => document.getElementById(id);
let socket = null;
let state = null;
let nextId = 1;
let retryMs = 500;
// The station speaks at least every 400 ms: after five of those missed the
// page says so, and a link silent this long is given up for a new one.
const silentMs = 2000;
const abandonMs = 8000;
let heardAt = Date.now(); // the last word from the station, by this browser's clock
let attemptAt = 0;        // the last connection begun
let closedText = '';      // what the header says while the connection is closed
const trail = [];
let run = null;      // the station's run, and the last of its log lines shown:
let lastLine = 0;    // lines sent again after a reconnection are not shown twice

function fixed(x, digits) { return typeof x === 'number' ? x.toFixed(digits) : '-'; }
function signed(x, digits) { return typeof x === 'number' ? (x < 0 ? '\u2212' : '+') + Math.abs(x).toFixed(digits) : '-'; }
function methodName(key) { const m = methods.find(([k]) => k === key); return m ? m[1] : key; }
// An axis nobody has sent yet shows a bare dash, not a dash in degrees.
function angle(x) { return typeof x === 'number' ? x.toFixed(1) + '\u00b0' : '-'; }
function position(p) { return p ? 'az ' + angle(p.az) + '  el ' + angle(p.el) : '-'; }
const targetNames = { moon: 'the Moon', sun: 'the Sun', source: 'the source' };

function silentFor() { return Math.floor((Date.now() - heardAt) / 1000); }
function isSilent() { return !closedText && socket && Date.now() - heardAt >= silentMs; }

function setConnection(text, ok) {
  $('connection').textContent = text;
  $('connection').className = ok ? 'ok' : 'bad';
}

// A click that cannot reach the station says so rather than nothing.
function send(command) {
  if (!socket || socket.readyState !== WebSocket.OPEN || !$('login').hidden) {
    $('answer').textContent = 'not sent: not connected to the station';
    return;
  }
  if (isSilent()) {
    $('answer').textContent = 'not sent: no word from the station for ' + silentFor() + ' s';
    return;
  }
  command.id = nextId++;
  socket.send(JSON.stringify(command));
}

function token() {
  const hash = new URLSearchParams(location.hash.slice(1)).get('token');
  if (hash) { localStorage.setItem('vestrelToken', hash); history.replaceState(null, '', location.pathname); }
  return localStorage.getItem('vestrelToken') || '';
}

function showLogin(text) {
  $('login').hidden = false;
  setConnection(text, false);
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  attemptAt = Date.now();
  socket = new WebSocket(scheme + location.host + '/api');
  socket.onmessage = (event) => {
    heardAt = Date.now();
    let message;
    try { message = JSON.parse(event.data); } catch (e) { return; }
    if (message.type === 'hello') {
      if (message.run !== run) { run = message.run; lastLine = 0; $('log').replaceChildren(); }
      if (message.version !== 1) { $('connection').textContent = 'station speaks API ' + message.version; return; }
      if (message.token) {
        const t = token();
        if (!t) { showLogin('waiting for the token'); return; }
        send({ cmd: 'hello', token: t });
      }
    } else if (message.type === 'state') {
      retryMs = 500;
      closedText = '';
      $('login').hidden = true;
      document.body.classList.remove('stale');
      setConnection('connected', true);
      render(message);
    } else if (message.type === 'log') {
      if (typeof message.n === 'number') { if (message.n <= lastLine) return; lastLine = message.n; }
      const li = document.createElement('li');
      li.textContent = message.time.slice(11, 19) + '  ' + message.text;
      const log = $('log');
      log.prepend(li);
      while (log.children.length > 200) log.lastChild.remove();
    } else if (message.type === 'reply' && !message.ok) {
      $('answer').textContent = message.error;
    } else if (message.type === 'reply') {
      $('answer').textContent = '';
    }
  };
  socket.onclose = (event) => {
    // What is still shown is the station as it was at its last state.
    if (!closedText)
      closedText = state ? 'disconnected since ' + state.time.slice(11, 19) + ' UTC' : 'disconnected';
    document.body.classList.add('stale');
    setConnection(closedText, false);
    if (event.reason === 'wrong token' || event.reason === 'no token') {
      localStorage.removeItem('vestrelToken');
      showLogin(event.reason === 'wrong token' ? 'wrong token: type it again' : 'waiting for the token');
      return;
    }
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  };
}

// A station stopped, or a link that stalls, closes nothing: only its silence tells.
function watchSilence() {
  if (!socket || !$('login').hidden) return;
  const now = Date.now();
  if (isSilent()) {
    setConnection('no word from the station for ' + silentFor() + ' s', false);
    document.body.classList.add('stale');
  }
  // Given up for a new connection; one still trying to connect is too.
  const open = socket.readyState === WebSocket.OPEN || socket.readyState === WebSocket.CONNECTING;
  if (open && now - heardAt >= abandonMs && now - attemptAt >= abandonMs) {
    const old = socket;
    old.onmessage = old.onclose = null;
    old.close();
    connect();
  }
}

// What the antenna and the radio do, from each port's state: one port may
// track while the other is held.
function trackingText(s) {
  const a = s.ports.A, b = s.ports.B;
  let antenna;
  if (!a.open && !a.connecting) antenna = 'rotator closed';
  else if (s.parking.active) antenna = 'parking at ' + position(s.parking);
  else if (s.external) antenna = 'aimed by a rotctl client';
  else if (s.calibration && s.calibration.running) antenna = 'calibrating';
  else if (a.auto && s.tracking) antenna = 'tracking ' + (targetNames[s.target] || s.target);
  else antenna = 'left where it is (port A Manual)';
  let radio;
  if (!b.open && !b.connecting) radio = 'closed';
  else if (b.auto) radio = s.radio.frequencyTracking ? 'Doppler corrected' : 'read (Track frequency off)';
  else radio = 'not read (port B Manual)';
  return 'antenna ' + antenna + '; radio ' + radio;
}

function portText(p) {
  let text = p.open ? 'open' : p.connecting ? 'connecting' : p.reconnecting ? 'waiting for the device' : 'closed';
  if (p.device) text += ', ' + p.device;
  text += p.auto ? ', Auto' : ', Manual';
  if (p.trouble) text += ', ' + p.trouble;
  return text;
}

function fillDevices(select, available, current) {
  const names = available.slice();
  if (current && !names.includes(current)) names.unshift(current);
  const key = names.join('\n');
  if (select.dataset.key === key) return;
  select.dataset.key = key;
  select.replaceChildren(...names.map((name) => { const o = document.createElement('option'); o.value = o.textContent = name; return o; }));
  if (current) select.value = current;
}

function setOn(button, on, onText, offText) {
  button.classList.toggle('on', on);
  if (onText) button.textContent = on ? onText : offText;
}

function render(s) {
  state = s;
  $('clock').textContent = s.time.replace('T', ' ').replace('Z', ' UTC');
  $('targetPosition').textContent = s.record ? s.target + ', ' + position(s.record) : s.target;
  $('dataAge').textContent = s.record ? s.record.ageS + ' s old' : '-';
  $('shifts').textContent = s.record
    ? 'home ' + signed(s.record.dopplerHome, 0) + ' Hz, DX ' + signed(s.record.dopplerDx, 0) + ' Hz' : '-';
  $('offsets').textContent = 'az ' + signed(s.offsets.az, 2) + '\u00b0, el ' + signed(s.offsets.el, 2) + '\u00b0';
  $('commanded').textContent = position(s.commanded);
  $('actual').textContent = position(s.actual);
  $('tracking').textContent = trackingText(s);
  const r = s.radio;
  $('frequency').textContent = (r.mhz === null ? '-' : fixed(r.mhz, 6) + ' MHz') + (r.transmitting ? ' TX' : '');
  $('doppler').textContent = methodName(r.method) + (r.frequencyTracking ? ', tracking' : '') +
    (r.receiveHz !== null ? ', RX ' + fixed(r.receiveHz / 1e6, 6) + ' TX ' + fixed(r.transmitHz / 1e6, 6) : '');
  $('portA').textContent = portText(s.ports.A);
  $('portB').textContent = portText(s.ports.B);
  // Older stations send no wsjtx field.
  $('wsjtx').textContent = s.wsjtx && s.wsjtx.line ? s.wsjtx.line.replace(/^WSJT-X: /, '') : '-';
  setOn($('followWsjtx'), !!(s.wsjtx && s.wsjtx.follow));
  $('alarms').replaceChildren(...s.alarms.map((a) => { const li = document.createElement('li'); li.textContent = a.why; return li; }));
  for (const port of ['A', 'B']) {
    const p = s.ports[port];
    fillDevices($('device' + port), s.available, p.device);
    $('device' + port).disabled = p.open || p.connecting || p.network;
    setOn($('open' + port), p.open || p.connecting, 'Close', 'Open');
    setOn($('auto' + port), p.auto);
  }
  setOn($('targetMoon'), s.target === 'moon');
  setOn($('targetSun'), s.target === 'sun');
  setOn($('targetSource'), s.target === 'source');
  // Stop only where both ports track; otherwise the button puts both in Auto.
  const bothAuto = s.ports.A.auto && s.ports.B.auto;
  setOn($('trackingButton'), bothAuto, 'Stop tracking', 'Start tracking');
  setOn($('frequencyTracking'), r.frequencyTracking);
  setOn($('ptt'), !!r.ptt);
  $('frequencyTracking').disabled = !r.known;
  $('method').value = r.method;
  $('method').disabled = r.dopplerRunning;
  $('shift').value = r.shift;
  if (document.activeElement !== $('parkAz') && document.activeElement !== $('parkEl') && !$('parkAz').value) {
    $('parkAz').placeholder = fixed(s.parking.az, 1);
    $('parkEl').placeholder = fixed(s.parking.el, 1);
  }
  if (s.record) {
    const last = trail[trail.length - 1];
    if (!last || last.az !== s.record.az || last.el !== s.record.el) trail.push({ az: s.record.az, el: s.record.el });
    if (trail.length > 300) trail.shift();
  }
  drawSky(s);
  renderCalibration(s.calibration);
}

// Older stations, and stations without calibrations, send no calibration field.
function renderCalibration(c) {
  $('calibration').hidden = !c;
  if (!c) return;
  const select = $('calSource');
  const key = c.sources.join('\n');
  if (select.dataset.key !== key) {
    select.dataset.key = key;
    select.replaceChildren(...c.sources.map((name) => { const o = document.createElement('option'); o.value = o.textContent = name; return o; }));
  }
  select.hidden = !c.sources.length;  // an empty list is no choice; the status says why
  $('calStart').disabled = c.running || !c.sources.length;
  $('calStop').disabled = !c.running;
  $('calApply').disabled = !c.canApply;
  $('calProgress').value = typeof c.progress === 'number' ? c.progress : 0;
  $('calStatus').textContent = c.sources.length ? (c.status || '') : 'No level source: a sound card with the receiver\'s audio, or port B on a radio through Hamlib';
  $('calResult').textContent = c.result;
  $('calFrequency').textContent = c.frequency ? 'The Y expected at ' + c.frequency.mhz.toFixed(3) + ' MHz, ' + c.frequency.from : '';
  $('calHistory').replaceChildren(...c.history.map((line) => { const li = document.createElement('li'); li.textContent = line; return li; }));
  drawLevels(c.points || []);
}

// Round steps for an axis: about four ticks over the range.
function ticks(lo, hi) {
  const raw = (hi - lo) / 4 || 1;
  const p = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map((m) => m * p).find((v) => v >= raw);
  const out = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + step / 1e6; v += step) out.push(Math.abs(v) < step / 1e6 ? 0 : v);
  return out;
}

// The levels against the offset across the sky, a colour for each cut, on
// axes that say what they are.
function drawLevels(points) {
  const canvas = $('calPlot');
  const g = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height;
  const left = 44, right = 8, top = 8, bottom = 30;
  g.clearRect(0, 0, w, h);
  const across = points.map((p) => p[1]), levels = points.map((p) => p[2]);
  let x0 = points.length ? Math.min(...across) : -1, x1 = points.length ? Math.max(...across) : 1;
  let y0 = points.length ? Math.min(...levels) : 0, y1 = points.length ? Math.max(...levels) : 1;
  if (x1 - x0 < 1e-9) { x0 -= 1; x1 += 1; }
  if (y1 - y0 < 1e-9) { y0 -= 1; y1 += 1; }
  const x = (v) => left + (w - left - right) * (v - x0) / (x1 - x0);
  const y = (v) => h - bottom - (h - top - bottom) * (v - y0) / (y1 - y0);
  g.strokeStyle = '#30363d';
  g.fillStyle = '#8b98a5';
  g.font = '11px sans-serif';
  g.beginPath(); g.moveTo(left, top); g.lineTo(left, h - bottom); g.lineTo(w - right, h - bottom); g.stroke();
  g.textAlign = 'center'; g.textBaseline = 'top';
  for (const v of ticks(x0, x1)) {
    g.beginPath(); g.moveTo(x(v), h - bottom); g.lineTo(x(v), h - bottom + 4); g.stroke();
    g.fillText(String(+v.toFixed(2)), x(v), h - bottom + 5);
  }
  g.textBaseline = 'bottom';
  g.fillText('degrees across the sky from the target', left + (w - left - right) / 2, h);
  g.textAlign = 'right'; g.textBaseline = 'middle';
  for (const v of ticks(y0, y1)) {
    g.beginPath(); g.moveTo(left - 4, y(v)); g.lineTo(left, y(v)); g.stroke();
    g.fillText(String(+v.toFixed(2)), left - 6, y(v));
  }
  g.save(); g.translate(10, top + (h - top - bottom) / 2); g.rotate(-Math.PI / 2);
  g.textAlign = 'center'; g.fillText('level', 0, 0); g.restore();
  if (x0 < 0 && x1 > 0) { g.beginPath(); g.moveTo(x(0), top); g.lineTo(x(0), h - bottom); g.stroke(); }
  const colours = ['#f0c000', '#58a6ff', '#3fb950'];
  for (const [cut, a, level] of points) {
    g.fillStyle = colours[cut % colours.length];
    g.fillRect(x(a) - 2, y(level) - 2, 4, 4);
  }
}

function drawSky(s) {
  const canvas = $('skyplot');
  const g = canvas.getContext('2d');
  const size = canvas.width;
  const c = size / 2;
  const radius = c - 18;
  const at = (p) => {
    const r = radius * (90 - Math.max(-5, Math.min(90, p.el))) / 90;
    const a = (p.az - 90) * Math.PI / 180;
    return [c + r * Math.cos(a), c + r * Math.sin(a)];
  };
  g.clearRect(0, 0, size, size);
  g.strokeStyle = '#30363d';
  g.fillStyle = '#8b98a5';
  g.font = '12px sans-serif';
  g.textAlign = 'center';
  g.textBaseline = 'middle';
  for (const el of [0, 30, 60]) { g.beginPath(); g.arc(c, c, radius * (90 - el) / 90, 0, 2 * Math.PI); g.stroke(); }
  for (const [label, az] of [['N', 0], ['E', 90], ['S', 180], ['W', 270]]) {
    const [x, y] = at({ az: az, el: -9 });
    g.fillText(label, x, y);
    g.beginPath(); g.moveTo(c, c); g.lineTo(...at({ az: az, el: 0 })); g.stroke();
  }
  g.strokeStyle = 'rgba(240,192,0,.4)';
  g.beginPath();
  trail.forEach((p, i) => { const [x, y] = at(p); if (i) g.lineTo(x, y); else g.moveTo(x, y); });
  g.stroke();
  const dot = (p, style, fill, shape) => {
    if (!p || typeof p.az !== 'number' || typeof p.el !== 'number') return;
    const [x, y] = at(p);
    g.beginPath();
    if (shape === 'square') g.rect(x - 5, y - 5, 10, 10); else g.arc(x, y, 6, 0, 2 * Math.PI);
    g.lineWidth = 2;
    if (fill) { g.fillStyle = style; g.fill(); } else { g.strokeStyle = style; g.stroke(); }
    g.lineWidth = 1;
  };
  dot(s.record, '#f0c000', true);
  dot(s.commanded, '#58a6ff', false);
  dot(s.actual, '#3fb950', true, 'square');
}

function number(id) { const v = $(id).value.trim(); return v === '' ? undefined : Number(v); }

function wire() {
  $('method').replaceChildren(...methods.map(([key, text]) => { const o = document.createElement('option'); o.value = key; o.textContent = text; return o; }));
  for (const port of ['A', 'B']) {
    $('open' + port).onclick = () => {
      const p = state && state.ports[port];
      if (!p) return;
      if (p.open || p.connecting) send({ cmd: 'close', port: port });
      else if (p.network || !$('device' + port).value) send({ cmd: 'open', port: port });
      else send({ cmd: 'open', port: port, device: $('device' + port).value });
    };
    $('auto' + port).onclick = () => state && send({ cmd: 'auto', port: port, on: !state.ports[port].auto });
  }
  for (const port of ['A', 'B']) $('device' + port).onfocus = () => send({ cmd: 'enumerate' });
  $('targetMoon').onclick = () => send({ cmd: 'target', target: 'moon' });
  $('targetSun').onclick = () => send({ cmd: 'target', target: 'sun' });
  $('targetSource').onclick = () => send({ cmd: 'target', target: 'source' });
  $('trackingButton').onclick = () => state && send({ cmd: 'tracking', on: !(state.ports.A.auto && state.ports.B.auto) });
  $('ptt').onclick = () => state && send({ cmd: 'ptt', on: !state.radio.ptt });
  $('frequencyTracking').onclick = () => state && send({ cmd: 'frequencyTracking', on: !state.radio.frequencyTracking });
  $('followWsjtx').onclick = () => state && state.wsjtx && send({ cmd: 'followWsjtx', on: !state.wsjtx.follow });
  $('method').onchange = () => send({ cmd: 'dopplerMethod', method: $('method').value });
  $('shift').onchange = () => send({ cmd: 'shift', shift: $('shift').value });
  $('tuneForm').onsubmit = (e) => { e.preventDefault(); const mhz = number('tuneMHz'); if (mhz !== undefined) send({ cmd: 'tune', mhz: mhz }); };
  $('offsetForm').onsubmit = (e) => {
    e.preventDefault();
    const command = { cmd: 'offsets' };
    const az = number('offsetAz'); const el = number('offsetEl');
    if (az !== undefined) command.az = az;
    if (el !== undefined) command.el = el;
    send(command);
  };
  $('parkForm').onsubmit = (e) => {
    e.preventDefault();
    const command = { cmd: 'park' };
    const az = number('parkAz'); const el = number('parkEl');
    if (az !== undefined) command.az = az;
    if (el !== undefined) command.el = el;
    send(command);
  };
  $('calibrationForm').onsubmit = (e) => {
    e.preventDefault();
    const command = { cmd: 'calibrate', target: $('calTarget').value, kind: $('calKind').value, source: $('calSource').value };
    const beam = number('calBeam'); const flux = number('calFlux'); const tsys = number('calTsys');
    if (beam !== undefined) command.beamwidth = beam;
    if (tsys !== undefined) command.systemKelvin = tsys;
    if (flux !== undefined) command.flux = flux;
    send(command);
  };
  $('calStop').onclick = () => send({ cmd: 'calibrationStop' });
  // As in the window: the offsets change only once the operator says so.
  $('calApply').onclick = () => {
    const found = state && state.calibration && state.calibration.found;
    if (found && confirm('Add ' + signed(found.az, 2) + '\u00b0 to the azimuth offset and ' + signed(found.el, 2) +
                         '\u00b0 to the elevation offset? They are kept in store.cfg.'))
      send({ cmd: 'calibrationApply' });
  };
  $('login').onsubmit = (e) => {
    e.preventDefault();
    localStorage.setItem('vestrelToken', $('token').value.trim());
    $('login').hidden = true;
    heardAt = Date.now();
    setConnection('connecting', false);
    if (socket) socket.onmessage = socket.onclose = null;
    connect();
  };
}

wire();
connect();
setInterval(watchSilence, 250);
