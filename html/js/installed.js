// The "Installed programs" view: what the program's export tool lists,
// sortable by size and by name, and an uninstaller run on request.
//
// The list is asked for with exportBCU, whose answer (the inventory file's
// bytes) comes to a page function named here. An uninstaller runs through
// launchAndWait only after the user confirmed it; its answer
// (launchAndWaitCbk with the request's tag) means it has ended, and the
// list is asked for again to see whether the program is gone. One
// uninstaller at a time: two at once fight over the system's installer.
import { call, listen } from './host.js';
import { canRun, decodeExport } from './installed-model.js';
import * as stage from './stage.js';
import * as screen from './screens/installed.js';
import { ask } from './screens/ask.js';

const ID = 'installed';
const EXPORT_CALLBACK = 'installedExportCbk';
const DONE_CALLBACK = 'launchAndWaitCbk';

const state = {
    started: false,
    loading: false,
    failure: null,      // why the last listing failed: 'empty', 'broken', 'version', 'unavailable'
    list: null,         // the last good listing: { programs, sources, ... }, null before one
    order: 'size',
    filter: '',
    op: null,           // the uninstaller under way: { tag, key, name }
    check: null,        // after one ended: { key, name, code }, judged on the next listing
    outcome: null,      // { tone, key, params }
};
let nextTag = 1;

function refresh() {
    if (state.loading)
        return;
    state.loading = true;
    stage.update(ID);
    if (!call('exportBCU', EXPORT_CALLBACK).ok) {
        state.loading = false;
        state.failure = 'unavailable';
        judge();
        stage.update(ID);
    }
}

// What came of the uninstaller, once the list shows it.
function judge() {
    const check = state.check;
    if (!check)
        return;
    state.check = null;
    const code = Number(check.code);
    if (code !== 0) {
        state.outcome = { tone: 'error', key: 'installed.result.startFailed', params: { name: check.name, code: String(check.code) } };
    } else if (state.failure) {
        state.outcome = { tone: 'warn', key: 'installed.result.unknown', params: { name: check.name } };
    } else if (state.list.programs.some((program) => program.key === check.key)) {
        state.outcome = { tone: 'warn', key: 'installed.result.stillThere', params: { name: check.name } };
    } else {
        state.outcome = { tone: 'ok', key: 'installed.result.removed', params: { name: check.name } };
    }
    stage.statusChanged();
}

const actions = {
    refresh() {
        if (!state.op) {
            state.outcome = null;
            refresh();
        }
    },
    order(order) {
        state.order = order;
        stage.update(ID);
    },
    filter(text) {
        state.filter = text;
        stage.update(ID);
    },
    async uninstall(key) {
        const program = state.list?.programs.find((entry) => entry.key === key);
        if (!program || !canRun(program) || state.op || state.loading)
            return;
        const confirmed = await ask({ kind: 'uninstall', title: 'installed.confirm.title', text: 'installed.confirm.text',
            notice: 'installed.confirm.notice', confirm: 'installed.confirm.uninstall',
            params: { name: program.name, command: program.command } });
        if (!confirmed || state.op || state.loading)
            return;
        const tag = nextTag++;
        state.op = { tag, key, name: program.name };
        state.outcome = null;
        stage.statusChanged();
        stage.update(ID);
        if (!call('launchAndWait', program.command, tag).ok) {
            state.op = null;
            state.outcome = { tone: 'error', key: 'installed.result.notStarted', params: { name: program.name } };
            stage.statusChanged();
            stage.update(ID);
        }
    },
};

// launchAndWait's answer has one fixed name; an answer with a tag this
// view did not hand out belongs to whoever installed the name before.
const before = window[DONE_CALLBACK];
listen({
    [EXPORT_CALLBACK](bytes) {
        if (!state.loading) {
            console.warn('unexpected installed-programs listing');
            return;
        }
        state.loading = false;
        const decoded = decodeExport(bytes);
        if (decoded.ok) {
            state.list = decoded;
            state.failure = null;
        } else {
            console.warn('the installed-programs listing cannot be used:', decoded.reason);
            state.failure = decoded.reason;
        }
        judge();
        stage.update(ID);
        if (state.outcome)
            document.querySelector('#main .installed-outcome')?.focus();
    },
    [DONE_CALLBACK](result, tag) {
        const op = state.op;
        if (!op || Number(tag) !== op.tag) {
            if (typeof before === 'function')
                before(result, tag);
            else
                console.warn('unexpected launchAndWait answer', result, tag);
            return;
        }
        state.op = null;
        state.check = { key: op.key, name: op.name, code: result };
        stage.statusChanged();
        refresh();
    },
});

export const installed = {
    id: ID,
    get busy() {
        return state.op !== null;
    },
    draw(options) {
        // Listed on the first visit only: the tool takes a moment, and
        // nobody who never opens the view needs it.
        if (!state.started) {
            state.started = true;
            refresh();
        }
        stage.draw(ID, screen.render(state, actions), { ...options, screen: 'installed' });
    },
};
