// The junk cleaner view: home → scanning → result → cleaning → checking →
// done. State lives in `app`; screens are rebuilt from it on every change
// of screen or language, and patched in place while a scan or a clean runs.
// The view keeps running while another one is on screen (stage.js).
import { call, listen } from './host.js';
import { currentLanguage } from './i18n.js';
import { cleaningJobs, leftAfter } from './report.js';
import { ScanEnd, ScanSession } from './scan.js';
import * as home from './screens/home.js';
import * as scanning from './screens/scanning.js';
import * as result from './screens/result.js';
import * as cleaning from './screens/cleaning.js';
import * as done from './screens/done.js';
import * as message from './screens/message.js';
import * as stage from './stage.js';

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

function show(screen, { announce = true } = {}) {
    app.screen = screen;
    stage.draw('junk', screens[screen].render(app, actions), { announce, screen });
}

function refresh() {
    stage.refresh('junk');
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
        // A check after cleaning that cannot run ends the cleaning too.
        app.scan = null;
        app.cleaning = null;
        fail('error.title', 'error.scanStart');
        stage.statusChanged();
        return;
    }
    show('scanning');
    stage.statusChanged();
}

function scanEnded(session) {
    app.scan = null;
    reportEnd(session);
    stage.statusChanged();
}

function reportEnd(session) {
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
        stage.statusChanged();
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
        stage.update('junk');
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

export const junk = {
    id: 'junk',
    // A scan or a clean runs on.
    get busy() {
        return app.scan !== null || app.cleaning !== null;
    },
    draw(options) {
        show(app.screen, options);
    },
    start() {
        loadDisks();
    },
};
