// Talking to umbrex-render: the tab's id, the session's token and the one
// function every request of the page goes through.
'use strict';

const tab = Array.from(crypto.getRandomValues(new Uint8Array(8)), b => b.toString(16).padStart(2, '0')).join('');

// The session's token comes in the address umbrex-render printed; the tab
// keeps it (a reload still works), takes it out of the address bar, and
// hands it back with every request: the server answers nothing else.
const token = (() => {
  const given = new URLSearchParams(location.search).get('token');
  if (given) {
    sessionStorage.setItem('umbrex-token', given);
    history.replaceState(null, '', location.pathname);
  }
  return sessionStorage.getItem('umbrex-token') || '';
})();

// Every request of the page goes through here. `signal` aborts it.
function api(path, signal) {
  return fetch(path, {headers: {'X-Umbrex-Token': token}, cache: 'no-store', signal});
}

const $ = id => document.getElementById(id);
const clone = value => JSON.parse(JSON.stringify(value));
