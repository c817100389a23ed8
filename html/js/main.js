// The page around the views: product name, the tabs that choose a view,
// the language, the version. The junk cleaner is the first view and the one
// the page opens with; each view keeps running what it started while another
// one is on screen.
import { call } from './host.js';
import { currentLanguage, languageForId, languageForTag, languages, setLanguage, setProduct, t } from './i18n.js';
import { junk } from './junk.js';
import { large, dupes } from './files.js';
import { mover } from './mover.js';
import { installed } from './installed.js';
import * as stage from './stage.js';

const views = [junk, large, dupes, mover, installed];

function viewOf(id) {
    return views.find((view) => view.id === id) ?? junk;
}

function tabOf(view) {
    return document.getElementById(`tab-${view.id}`);
}

// Tabs as the ARIA pattern has them: one stop in the Tab order, arrows move
// between them and choose at once.
function renderTabs() {
    const list = document.getElementById('views');
    list.setAttribute('aria-label', t('tabs.label'));
    list.replaceChildren(...views.map((view) => {
        const chosen = view.id === stage.activeView();
        const tab = document.createElement('button');
        tab.type = 'button';
        tab.id = `tab-${view.id}`;
        tab.className = 'tab';
        tab.setAttribute('role', 'tab');
        tab.setAttribute('aria-controls', 'main');
        tab.setAttribute('aria-selected', String(chosen));
        tab.tabIndex = chosen ? 0 : -1;
        const label = document.createElement('span');
        label.className = 'tab-label';
        label.textContent = t(`tabs.${view.id}`);
        // Shown while the view runs something, so a scan left running in
        // another view is not forgotten.
        const busy = document.createElement('span');
        busy.className = 'tab-busy';
        const busyText = document.createElement('span');
        busyText.className = 'visually-hidden';
        busyText.textContent = t('tabs.busy');
        busy.append(busyText);
        tab.append(label, busy);
        tab.addEventListener('click', () => choose(view.id, { focusTab: false }));
        return tab;
    }));
    markBusy();
}

function markBusy() {
    for (const view of views) {
        const tab = tabOf(view);
        if (tab)
            tab.dataset.busy = String(Boolean(view.busy));
    }
}

function choose(id, { focusTab }) {
    const view = viewOf(id);
    if (view.id !== stage.activeView()) {
        stage.choose(view.id);
        for (const other of views) {
            const tab = tabOf(other);
            const chosen = other === view;
            tab.setAttribute('aria-selected', String(chosen));
            tab.tabIndex = chosen ? 0 : -1;
        }
        document.getElementById('main').setAttribute('aria-labelledby', `tab-${view.id}`);
        // The focus stays on the tab: the user is choosing, not reading yet.
        view.draw({ announce: false });
    }
    if (focusTab)
        tabOf(view).focus();
}

function onTabKey(event) {
    const index = views.findIndex((view) => view.id === stage.activeView());
    const next = { ArrowRight: index + 1, ArrowLeft: index - 1, Home: 0, End: views.length - 1 }[event.key];
    if (next === undefined)
        return;
    event.preventDefault();
    choose(views[(next + views.length) % views.length].id, { focusTab: true });
}

function changeLanguage(index) {
    const language = languages[index];
    if (!language || language === currentLanguage())
        return;
    // The program translates the names of the next scan; the page's own
    // texts change now.
    call('setLanguageId', language.id);
    setLanguage(language);
    renderChrome();
    viewOf(stage.activeView()).draw({ announce: false });
}

function initialLanguage() {
    for (const name of ['getLanguageId', 'getUserDefaultUILanguage']) {
        const answer = call(name);
        const language = answer.ok ? languageForId(answer.value) : null;
        if (language)
            return language;
    }
    return languageForTag(navigator.language);
}

// The header and footer stay while screens change; only their texts follow
// the language.
function renderChrome() {
    const select = document.getElementById('language');
    select.replaceChildren(...languages.map((language, index) => {
        const option = document.createElement('option');
        option.value = String(index);
        option.textContent = language.texts.name;
        option.lang = language.texts.tag;
        option.selected = language === currentLanguage();
        return option;
    }));
    document.getElementById('language-label').textContent = t('language');
    renderTabs();
    const version = call('baseSystemInfo', 0);
    document.getElementById('version').textContent = version.ok && version.value
        ? t('version', { version: version.value }) : '';
}

function loadProduct() {
    const product = call('baseSystemInfo', 1);
    const name = product.ok && product.value ? String(product.value) : 'Clean';
    setProduct(name);
    document.getElementById('product').textContent = name;
    document.title = name;
}

function start() {
    loadProduct();
    setLanguage(initialLanguage());
    stage.choose(junk.id);
    stage.onStatusChange(markBusy);
    renderChrome();
    document.getElementById('language').addEventListener('change', (event) => changeLanguage(Number(event.target.value)));
    document.getElementById('views').addEventListener('keydown', onTabKey);
    document.getElementById('main').setAttribute('aria-labelledby', `tab-${junk.id}`);
    junk.start();
    junk.draw({ announce: false });
}

start();
