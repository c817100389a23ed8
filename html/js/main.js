// The junk cleaner page: home → scanning → result → cleaning → checking →
// done. State lives in `app`; screens are rebuilt from it on every change
// of screen or language, and patched in place while a scan or a clean runs.
import { call, listen } from './host.js';
import { currentLanguage, languageForId, languageForTag, languages, setLanguage, setProduct, t } from './i18n.js';
import { cleaningJobs, leftAfter } from './report.js';
import { ScanEnd, ScanSession } from './scan.js';
import * as home from './screens/home.js';
import * as scanning from './screens/scanning.js';
import * as result from './screens/result.js';
import * as cleaning from './screens/cleaning.js';
import * as done from './screens/done.js';
import * as message from './screens/message.js';

// How often the program reports the running size and the current file:
// every Nth event of its walk. Each report holds up the program's workers
// until its UI thread has passed it on, and the page repaints once a frame
// at most, so file names are asked for sparingly: a walk finds thousands of
// files a second. Sizes come once per walked folder, far less often.
const SIZE_EVERY = 4;
const FILE_EVERY = 1024;

const screens = { home, scanning, result, cleaning, done, message };

const app = {
    screen: 'home',
    disks: null,       // [{ drive, totalMbs, freeMbs }] or null when unknown
    scan: null,        // the running ScanSession
    report: null,      // the result on screen, a ScanReport
    cleaning: null,    // { jobs, index }
    outcome: null,     // what the last clean achieved
    message: null,     // { title, text } as text keys
};

let view = null;
let updateQueued = false;

function show(screen, { announce = true } = {}) {
    app.screen = screen;
    const main = document.getElementById('main');
    view = screens[screen].render(app, actions);
    main.replaceChildren(view.root);
    // A screen's actions may sit in the dock along the window's bottom edge.
    document.getElementById('dock').replaceChildren(...(view.dock ? [view.dock] : []));
    if (announce) {
        // A new screen takes the focus to its heading, so keyboard and
        // screen reader users start reading there.
        view.root.querySelector('h1, h2')?.focus({ preventScroll: false });
        window.scrollTo(0, 0);
    }
    document.body.dataset.screen = screen;
}

// Patches the live screen at most once a frame, however fast callbacks come.
function refresh() {
    if (updateQueued)
        return;
    updateQueued = true;
    requestAnimationFrame(() => {
        updateQueued = false;
        view?.update?.(app);
    });
}

function loadDisks() {
    const answer = call('getDiskInfo');
    app.disks = answer.ok && Array.isArray(answer.value)
        ? answer.value.filter((disk) => disk && Number(disk.totalMbs) > 0)
        : null;
}

// Keys, not texts, so that the message follows a change of language.
function fail(title, text) {
    app.message = { title, text };
    show('message');
}

function startScan(purpose) {
    const session = new ScanSession(purpose, currentLanguage().code);
    // The program reports to whichever callbacks exist when it calls, so the
    // session must be in place before the start.
    app.scan = session;
    const init = call('cacheScanInit', SIZE_EVERY, FILE_EVERY);
    const started = init.ok ? call('cacheScanStart') : init;
    if (!started.ok) {
        app.scan = null;
        fail('error.title', 'error.scanStart');
        return;
    }
    show('scanning');
}

function scanEnded(session) {
    app.scan = null;
    if (session.purpose === 'verify') {
        verifyEnded(session);
        return;
    }
    if (session.code !== ScanEnd.finished && session.code !== ScanEnd.stopped) {
        fail('error.title', 'error.notStarted');
        return;
    }
    if (session.report.isEmpty && session.code === ScanEnd.finished)
        console.warn('the scan found nothing at all; the program logs whether its rules were loaded');
    app.report = session.report;
    show('result');
}

// Freed space is what the cleaned items measured before minus what the
// check finds of them now. Junk that appeared elsewhere in the meantime does
// not count against it, and a stopped check measures nothing.
function verifyEnded(session) {
    const jobs = app.cleaning.jobs;
    const measured = session.code === ScanEnd.finished;
    const outcome = { measured, freed: 0n, failed: [], left: [] };
    for (const job of jobs) {
        if (job.status === 'failed') {
            outcome.failed.push(job);
            continue;
        }
        if (!measured)
            continue;
        const left = leftAfter(job, session.report);
        outcome.freed += job.size > left ? job.size - left : 0n;
        if (left > 0n)
            outcome.left.push({ ...job, left });
    }
    app.outcome = outcome;
    app.report = session.report;
    app.cleaning = null;
    show('done');
}

function nextJob() {
    const run = app.cleaning;
    for (;;) {
        run.index += 1;
        if (run.index >= run.jobs.length) {
            startScan('verify');
            return;
        }
        const job = run.jobs[run.index];
        job.status = 'working';
        refresh();
        const answer = call('cacheDeleteOne', job.groupId, job.programId, job.itemIds);
        if (answer.ok)
            return;  // cacheDeleteOneCbk continues
        job.status = 'failed';
    }
}

const actions = {
    scan() {
        startScan('scan');
    },
    stop() {
        const session = app.scan;
        if (!session || session.stopping)
            return;
        session.stopping = call('cacheScanStop').ok;
        refresh();
    },
    // One request per program, one at a time: the program runs requests in
    // parallel otherwise, and its cleaner must not walk the same rules twice
    // at once.
    clean() {
        const jobs = cleaningJobs(app.report).map((job) => ({ ...job, status: 'waiting' }));
        if (!jobs.length)
            return;
        app.cleaning = { jobs, index: -1 };
        show('cleaning');
        nextJob();
    },
    home() {
        loadDisks();
        show('home');
    },
    review() {
        show('result');
    },
    // Ticks changed on the result screen.
    ticked() {
        view?.update?.(app);
    },
    language(index) {
        const language = languages[index];
        if (!language || language === currentLanguage())
            return;
        // The program translates the names of the next scan; the page's own
        // texts change now.
        call('setLanguageId', language.id);
        setLanguage(language);
        renderChrome();
        show(app.screen, { announce: false });
    },
};

listen({
    cacheProgressCbk(doneCount, total) {
        app.scan?.progress(doneCount, total);
        refresh();
    },
    sizeCbk(size) {
        app.scan?.runningSize(size);
        refresh();
    },
    cacheFileNameCbk(name) {
        app.scan?.fileFound(name);
        refresh();
    },
    cacheScanCbkTotal(total) {
        app.scan?.report.begin(total);
    },
    cacheScanCbk0(name, size, selected, id) {
        app.scan?.report.addGroup(name, size, selected, id);
    },
    cacheScanCbk1(name, size, selected, id) {
        app.scan?.report.addProgram(name, size, selected, id);
    },
    cacheScanCbk2(name, size, id, selected) {
        app.scan?.report.addItem(name, size, id, selected);
    },
    cacheScanCbk3(files) {
        app.scan?.report.addFiles(files);
    },
    cacheScanEndCbk(code) {
        const session = app.scan;
        if (!session)
            return;
        session.end(code);
        scanEnded(session);
    },
    // The scan's own end (code 2) follows with what was found so far.
    cacheScanStopCbk() {},
    cacheDeleteOneCbk(groupId, programId) {
        const job = app.cleaning?.jobs[app.cleaning.index];
        if (!job || job.status !== 'working' || job.groupId !== String(groupId) || job.programId !== String(programId)) {
            console.warn('unexpected cleaning answer', groupId, programId);
            return;
        }
        job.status = 'done';
        nextJob();
    },
});

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
    renderChrome();
    document.getElementById('language').addEventListener('change', (event) => actions.language(Number(event.target.value)));
    loadDisks();
    show('home', { announce: false });
}

start();
