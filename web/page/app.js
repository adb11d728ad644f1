// The agent's page: sign-in, Doors and Activity. Text is only ever set as text, never as HTML.
'use strict';

(function () {
  const page = document.body.dataset.page;
  const modeNames = { 'lock-unlock': 'Lock/unlock', momentary: 'Momentary', timed: 'Timed unlock' };
  let session = null;

  const $ = (id) => document.getElementById(id);

  function say(text, failed) {
    const status = $('status');
    status.textContent = text;
    status.classList.toggle('failed', !!failed);
  }

  function element(tag, text, className) {
    const made = document.createElement(tag);
    if (text !== undefined) made.textContent = text;
    if (className) made.className = className;
    return made;
  }

  function cell(label, text, className) {
    const td = element('td', text, className);
    if (label) td.dataset.label = label;
    return td;
  }

  // A value with a mark beside it that says the same in shape and colour, not in words.
  function marked(label, text, mark) {
    const td = cell(label, undefined, mark);
    const dot = element('span', undefined, 'dot');
    dot.setAttribute('aria-hidden', 'true');
    const value = element('span');
    value.append(dot, document.createTextNode(text));
    td.append(value);
    return td;
  }

  // A call of the agent's API. Changes carry the session's token; a lost session goes to sign-in.
  async function call(method, url, body) {
    const init = { method: method, headers: {}, credentials: 'same-origin' };
    if (body !== undefined) {
      init.headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    if (method !== 'GET' && session) init.headers['X-Dorvik-Token'] = session.token;
    const response = await fetch(url, init);
    let data = {};
    try { data = await response.json(); } catch (e) { data = {}; }
    if (response.status === 401 && page !== 'login') {
      location.assign('/login');
      throw new Error('signed out');
    }
    return { status: response.status, ok: response.ok, data: data };
  }

  // ---- sign-in

  function signIn() {
    const status = $('login-status');
    $('login-form').addEventListener('submit', async (event) => {
      event.preventDefault();
      status.textContent = '';
      $('sign-in').disabled = true;
      try {
        const answer = await call('POST', '/api/login', { user: $('user').value, password: $('password').value });
        if (answer.ok) return location.assign('/doors');
        status.textContent = answer.data.error || 'Signing in failed.';
        $('password').value = '';
        $('password').focus();
      } catch (e) {
        status.textContent = 'The agent cannot be reached.';
      } finally {
        $('sign-in').disabled = false;
      }
    });
    $('user').focus();
  }

  // ---- what every other page has: who is signed in, and the events

  async function startSession() {
    session = (await call('GET', '/api/session')).data;
    $('who').textContent = session.user + ' (' + session.role + ')';
    $('sign-out').addEventListener('click', async () => {
      await call('POST', '/api/logout', {});
      location.assign('/login');
    });
  }

  function listen(query, handlers) {
    const source = new EventSource('/api/events' + (query ? '?q=' + encodeURIComponent(query) : ''));
    let broken = false;
    source.addEventListener('open', () => {
      if (broken && handlers.reopened) handlers.reopened();
      broken = false;
    });
    source.addEventListener('error', () => {
      broken = true;
      if (source.readyState === EventSource.CLOSED) call('GET', '/api/session').catch(() => {});
    });
    source.addEventListener('end', () => {
      source.close();
      location.assign('/login');
    });
    for (const name of ['swipe', 'door']) {
      if (handlers[name]) source.addEventListener(name, (event) => handlers[name](JSON.parse(event.data)));
    }
    return source;
  }

  // ---- Doors

  let doorLimits = { min: 1, max: 255 };
  let modes = [];

  function readerCell(door) {
    return marked('Reader', door.online ? 'Online' : 'Offline', door.online ? 'online' : 'offline');
  }

  function doorControls(tr, door) {
    const mode = element('select');
    mode.setAttribute('aria-label', 'Mode of ' + door.name);
    for (const name of modes) {
      const option = element('option', modeNames[name] || name);
      option.value = name;
      mode.append(option);
    }
    mode.value = door.mode || 'lock-unlock';
    const delay = element('input');
    delay.type = 'number';
    delay.min = doorLimits.min;
    delay.max = doorLimits.max;
    delay.value = door.delay === null ? '' : door.delay;
    delay.setAttribute('aria-label', 'Delay of ' + door.name + ' in seconds');
    const save = element('button', 'Save');
    save.type = 'button';
    save.setAttribute('aria-label', 'Save ' + door.name);
    for (const control of [mode, delay]) control.addEventListener('input', () => { tr.dataset.edited = 'yes'; });
    save.addEventListener('click', () => changeDoor(tr, door, mode, delay, save));
    const modeCell = cell('Mode');
    modeCell.append(mode);
    const delayCell = cell('Delay (s)');
    delayCell.append(delay);
    const saveCell = cell(undefined);
    saveCell.append(save);
    return [modeCell, delayCell, saveCell];
  }

  function doorRow(door) {
    const tr = element('tr');
    tr.dataset.door = door.id;
    const name = element('th', door.name);
    name.scope = 'row';
    const admin = session.role === 'admin';
    // Controls only where a change can be made: for an admin, at a door whose reader is there.
    const [modeCell, delayCell, saveCell] = admin && door.online && door.mode !== null ? doorControls(tr, door) : [
      cell('Mode', door.mode === null ? '–' : (modeNames[door.mode] || door.mode)),
      cell('Delay', door.delay === null ? '–' : door.delay + ' s'),
      cell(undefined),
    ];
    tr.append(name, readerCell(door), modeCell, delayCell, cell('Cards', door.cards === null ? '–' : String(door.cards)),
              cell('Next change', door.next ? door.next.text : '–', door.next ? '' : 'empty'));
    if (admin) tr.append(saveCell);
    return tr;
  }

  function showDoor(door) {
    const body = $('doors').tBodies[0];
    const old = body.querySelector('tr[data-door="' + CSS.escape(door.id) + '"]');
    if (door.removed) return old && old.remove();
    // A row being edited keeps what the admin typed; only its reader's state is shown anew.
    if (old && old.dataset.edited) return old.children[1].replaceWith(readerCell(door));
    const row = doorRow(door);
    if (old) old.replaceWith(row); else body.append(row);
  }

  async function changeDoor(tr, door, mode, delay, save) {
    save.disabled = true;
    say('Writing to ' + door.name + '…');
    try {
      const answer = await call('POST', '/api/doors/' + encodeURIComponent(door.id),
                                { mode: mode.value, delay: Number(delay.value) });
      say(answer.ok ? door.name + ': ' + answer.data.message + '.' : door.name + ': ' + (answer.data.message || answer.data.error),
          !answer.ok);
      delete tr.dataset.edited;
      if (answer.data.door) showDoor(answer.data.door);
    } finally {
      save.disabled = false;
    }
  }

  async function doors() {
    const list = await call('GET', '/api/doors');
    doorLimits = list.data.delay;
    modes = list.data.modes;
    $('change-column').hidden = session.role !== 'admin';
    for (const door of list.data.doors) showDoor(door);
    if (!list.data.doors.length) say('The agent holds no doors.');
    listen('', { door: showDoor, reopened: async () => (await call('GET', '/api/doors')).data.doors.forEach(showDoor) });
  }

  // ---- Activity

  let query = '';
  let next = null;
  let events = null;

  function swipeRow(swipe) {
    const tr = element('tr');
    const time = new Date(swipe.time);
    const when = element('time', time.toLocaleString());
    when.dateTime = swipe.time;
    const timeCell = cell('Time');
    timeCell.append(when);
    const result = swipe.known ? 'Known card' : 'Refused' + (swipe.reason ? ': ' + swipe.reason : '');
    tr.append(timeCell, cell('Door', swipe.door), cell('Card', swipe.cardNumber),
              cell('Name', swipe.name || '–', swipe.name ? '' : 'empty'),
              marked('Result', result, swipe.known ? 'known' : 'refused'));
    return tr;
  }

  async function loadSwipes(more) {
    const url = '/api/swipes?q=' + encodeURIComponent(query) + (more && next ? '&before=' + encodeURIComponent(next) : '');
    const answer = await call('GET', url);
    if (!answer.ok) return say(answer.data.error, true);
    const body = $('swipes').tBodies[0];
    if (!more) body.replaceChildren();
    for (const swipe of answer.data.rows) body.append(swipeRow(swipe));
    next = answer.data.next;
    $('more').hidden = !next;
    say(body.rows.length ? '' : (query ? 'No swipe matches “' + query + '”.' : 'No swipes yet.'));
  }

  function follow() {
    if (events) events.close();
    events = listen(query, {
      swipe: (swipe) => {
        $('swipes').tBodies[0].prepend(swipeRow(swipe));
        $('live').textContent = 'New swipe at ' + swipe.door + ': ' + (swipe.name || 'card ' + swipe.cardNumber) +
                                (swipe.known ? '' : ', refused');
        say('');
      },
      reopened: () => loadSwipes(false),
    });
  }

  async function activity() {
    $('search-form').addEventListener('submit', (event) => {
      event.preventDefault();
      query = $('search').value.trim();
      $('export').href = '/api/swipes.csv' + (query ? '?q=' + encodeURIComponent(query) : '');
      follow();
      loadSwipes(false);
    });
    $('more').addEventListener('click', () => loadSwipes(true));
    follow();
    await loadSwipes(false);
  }

  // ----

  async function main() {
    if (page === 'login') return signIn();
    await startSession();
    if (page === 'doors') await doors();
    if (page === 'activity') await activity();
  }

  main().catch((error) => {
    if (error.message !== 'signed out' && $('status')) say('The agent cannot be reached: ' + error.message, true);
  });
})();
