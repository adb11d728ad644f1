// The agent's page: sign-in, Doors, Activity and People. Text is only ever set as text, never as HTML.
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
    const name = cell('Name', swipe.name || '–', swipe.name ? '' : 'empty');
    // A card no one has named yet: an admin may put it on the site list from here.
    if (!swipe.known && !swipe.name && swipe.doorId && session.role === 'admin') {
      const allow = element('a', 'Allow this card');
      allow.href = '/people?allow=' + encodeURIComponent(swipe.value) + '&door=' + encodeURIComponent(swipe.doorId);
      allow.setAttribute('aria-label', 'Allow card ' + swipe.cardNumber + ' at ' + swipe.door);
      name.replaceChildren(allow);
      name.className = '';
    }
    tr.append(timeCell, cell('Door', swipe.door), cell('Card', swipe.cardNumber), name,
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

  // ---- People

  let people = null; // the last answer of /api/people
  let editing = null; // what the person dialog edits: { list, person } (person null for a new one)
  let confirmed = null; // what the confirm dialog does when the admin says yes

  const personLabel = (person) => person.name || 'card ' + person.cardNumber;

  // What a door's cell of a person means: the master always, a list without door columns every
  // door, otherwise the cell: yes, a schedule's name, or no.
  function accessText(list, person, door) {
    if (person.master) return 'Always';
    if (!list.columns.length) return 'Yes';
    const text = list.columns.includes(door.id) ? person.doors[door.id] : '';
    return text === 'yes' ? 'Yes' : text === '' ? 'No' : text;
  }

  function actionButton(text, label, action) {
    const button = element('button', text, 'quiet small');
    button.type = 'button';
    button.setAttribute('aria-label', label);
    button.addEventListener('click', action);
    return button;
  }

  function personRow(list, person, admin) {
    const tr = element('tr');
    const name = element('th', person.name || '–', person.name ? '' : 'empty');
    name.scope = 'row';
    if (person.master) name.append(' ', element('span', 'master', 'badge'));
    tr.append(name, cell('Card', person.cardNumber), cell('From', person.from || '–', person.from ? '' : 'empty'),
              cell('Until', person.until || '–', person.until ? '' : 'empty'));
    for (const door of list.doors) {
      const text = accessText(list, person, door);
      tr.append(cell(door.name, text, text === 'No' ? 'empty' : ''));
    }
    if (!admin || !list.editable) return tr;
    const actions = cell(undefined, undefined, 'actions');
    const who = personLabel(person);
    actions.append(actionButton('Edit', 'Edit ' + who, () => openPerson(list, person)));
    if (!person.master) {
      actions.append(actionButton('Lapse now', 'Let the access of ' + who + ' lapse now', () => confirmThen(
        'Let the access of ' + who + ' lapse now? The card stops opening doors at once; its until becomes now.',
        'Lapse now', () => call('POST', '/api/people/' + person.card + '/lapse', {}))));
      actions.append(actionButton('Remove', 'Remove ' + who, () => confirmThen(
        'Remove ' + who + ' (card ' + person.cardNumber + ') from the site list?',
        'Remove', () => call('DELETE', '/api/people/' + person.card))));
    }
    tr.append(actions);
    return tr;
  }

  function listTable(list, admin, title) {
    const table = element('table', undefined, 'list');
    const caption = element('caption', 'People of ' + title + ': card, dates and each door\u2019s access', 'hidden-text');
    const head = element('tr');
    for (const name of ['Name', 'Card', 'From', 'Until']) head.append(element('th', name));
    for (const door of list.doors) head.append(element('th', door.name));
    if (admin && list.editable) {
      const change = element('th');
      change.append(element('span', 'Change', 'hidden-text'));
      head.append(change);
    }
    for (const th of head.children) th.scope = 'col';
    const body = element('tbody');
    for (const person of list.people) body.append(personRow(list, person, admin));
    table.append(caption, element('thead'), body);
    table.tHead.append(head);
    return table;
  }

  function listSection(list, admin, index) {
    const section = element('section', undefined, 'site-list');
    const title = list.doors.map((door) => door.name).join(', ');
    const heading = element('h2', title);
    heading.id = 'list-' + index;
    section.setAttribute('aria-labelledby', heading.id);
    section.append(heading);
    if (list.file) section.append(element('p', 'Site list ' + list.file, 'hint'));
    if (list.note) section.append(element('p', list.note, 'note'));
    if (list.problems) section.append(element('p', list.problems, 'problems'));
    if (admin && list.editable) {
      const tools = element('div', undefined, 'tools');
      const add = element('button', 'Add a person');
      add.type = 'button';
      add.id = 'add-person';
      add.addEventListener('click', () => openPerson(list, null));
      tools.append(add);
      section.append(tools);
    }
    if (!list.file) return section;
    if (list.people.length) section.append(listTable(list, admin, title));
    else if (!list.problems) section.append(element('p', 'No one on this list yet.', 'empty'));
    return section;
  }

  function showUnknown(list, admin) {
    const cards = $('unknown-cards');
    cards.replaceChildren();
    const unknown = admin && list ? list.unknown : [];
    $('unknown').hidden = !unknown.length;
    for (const swipe of unknown) {
      const item = element('li');
      const when = element('time', new Date(swipe.time).toLocaleString());
      when.dateTime = swipe.time;
      const allow = element('button', 'Allow this card');
      allow.type = 'button';
      allow.setAttribute('aria-label', 'Allow card ' + swipe.cardNumber + ' at ' + swipe.doorName);
      allow.addEventListener('click', () => openPerson(list, null, swipe));
      item.append(element('span', swipe.doorName + ': card ' + swipe.cardNumber + ', '), when, ' ', allow);
      cards.append(item);
    }
  }

  async function loadPeople() {
    const answer = await call('GET', '/api/people');
    if (!answer.ok) return say(answer.data.error, true);
    people = answer.data;
    const admin = session.role === 'admin';
    const lists = $('lists');
    lists.replaceChildren(...people.lists.map((list, index) => listSection(list, admin, index)));
    const editable = people.lists.find((list) => list.editable);
    if (!editable && admin) {
      lists.prepend(element('p', 'No door takes its cards from ' + people.file + ', the site list this page edits: set ' +
                                 'site-file = ' + people.file + ' in a door\u2019s section of the agent\u2019s configuration.', 'note'));
    }
    if (!people.lists.length) say('The agent holds no doors.');
    showUnknown(editable, admin);
  }

  function doorSelect(list, door, value) {
    const id = 'person-door-' + door.id;
    const label = element('label', door.name);
    label.htmlFor = id;
    const select = element('select');
    select.id = id;
    select.dataset.door = door.id;
    const choices = [['', 'No'], ['yes', 'Yes']].concat(people.schedules.map((name) => [name, 'Schedule ' + name]));
    if (value && !choices.some(([known]) => known === value)) choices.push([value, 'Schedule ' + value]);
    for (const [known, text] of choices) {
      const option = element('option', text);
      option.value = known;
      select.append(option);
    }
    select.value = value;
    const row = element('div', undefined, 'field');
    row.append(label, select);
    return row;
  }

  // The person dialog: a new person, one from a refused swipe (allow: its card and door), or a
  // person of the list to change.
  function openPerson(list, person, allow) {
    editing = { list: list, person: person };
    $('person-title').textContent = person ? 'Change ' + personLabel(person)
      : allow ? 'Allow card ' + allow.cardNumber + ' at ' + allow.doorName : 'Add a person';
    $('person-card').value = person ? String(person.card) : allow ? String(allow.card) : '';
    $('person-name').value = person ? person.name : '';
    $('person-from').value = person ? person.from : '';
    $('person-until').value = person ? person.until : '';
    $('person-master').checked = false;
    $('person-master-label').hidden = !!person || list.people.length > 0;
    $('person-error').textContent = '';
    const doors = $('person-doors');
    doors.replaceChildren(element('legend', 'Doors'));
    doors.hidden = !!(person && person.master); // the master opens every door at all times
    for (const door of list.doors) {
      let value = list.doors.length === 1 ? 'yes' : ''; // a new person: a choice to make where there is one
      if (person) value = list.columns.length ? person.doors[door.id] || '' : 'yes';
      if (allow) value = door.id === allow.door ? 'yes' : '';
      doors.append(doorSelect(list, door, value));
    }
    $('person-dialog').showModal();
    $(allow || person ? 'person-name' : 'person-card').focus();
  }

  async function savePerson(event) {
    event.preventDefault();
    const { list, person } = editing;
    const body = { name: $('person-name').value, from: $('person-from').value, until: $('person-until').value };
    const card = $('person-card').value.trim();
    if (!person || card !== String(person.card)) body.card = card;
    const doors = {};
    for (const select of $('person-doors').querySelectorAll('select')) doors[select.dataset.door] = select.value;
    // A list without door columns gives every door: say doors only where they differ from that.
    const everyDoor = !list.columns.length && Object.values(doors).every((value) => value === 'yes');
    if (!$('person-doors').hidden && !everyDoor) body.doors = doors;
    if (!person && $('person-master').checked) body.master = true;
    $('person-save').disabled = true;
    try {
      const answer = person ? await call('PUT', '/api/people/' + person.card, body) : await call('POST', '/api/people', body);
      if (!answer.ok) {
        $('person-error').textContent = answer.data.error;
        return;
      }
      $('person-dialog').close();
      await changed(answer.data.message);
    } catch (error) {
      $('person-error').textContent = 'The agent cannot be reached: ' + error.message;
    } finally {
      $('person-save').disabled = false;
    }
  }

  function confirmThen(text, yes, action) {
    confirmed = action;
    $('confirm-text').textContent = text;
    $('confirm-yes').textContent = yes;
    $('confirm-dialog').showModal();
    $('confirm-no').focus();
  }

  async function confirmAction(event) {
    event.preventDefault();
    $('confirm-yes').disabled = true;
    try {
      const answer = await confirmed();
      $('confirm-dialog').close();
      if (answer.ok) await changed(answer.data.message);
      else say(answer.data.error, true);
    } catch (error) {
      $('confirm-dialog').close();
      say('The agent cannot be reached: ' + error.message, true);
    } finally {
      $('confirm-yes').disabled = false;
    }
  }

  async function changed(message) {
    history.replaceState(null, '', '/people');
    await loadPeople();
    say(message);
    const add = $('add-person');
    if (add) add.focus();
  }

  async function peoplePage() {
    $('person-form').addEventListener('submit', savePerson);
    $('person-cancel').addEventListener('click', () => $('person-dialog').close());
    $('confirm-form').addEventListener('submit', confirmAction);
    $('confirm-no').addEventListener('click', () => $('confirm-dialog').close());
    await loadPeople();
    // Come from Activity's "Allow this card": that card, at that door.
    const asked = new URLSearchParams(location.search);
    if (asked.has('allow') && session.role === 'admin') {
      const door = asked.get('door');
      const list = people.lists.find((l) => l.editable && l.doors.some((d) => d.id === door));
      if (!list) return say('That door\u2019s site list is not kept on this page: see the note at its list.', true);
      const swipe = (list.unknown || []).find((u) => String(u.card) === asked.get('allow') && u.door === door);
      const doorName = list.doors.find((d) => d.id === door).name;
      openPerson(list, null, swipe || { card: asked.get('allow'), cardNumber: asked.get('allow'), door: door, doorName: doorName });
    }
    listen('', { swipe: (swipe) => { if (!swipe.known) loadPeople(); }, reopened: loadPeople });
  }

  // ----

  async function main() {
    if (page === 'login') return signIn();
    await startSession();
    if (page === 'doors') await doors();
    if (page === 'activity') await activity();
    if (page === 'people') await peoplePage();
  }

  main().catch((error) => {
    if (error.message !== 'signed out' && $('status')) say('The agent cannot be reached: ' + error.message, true);
  });
})();
