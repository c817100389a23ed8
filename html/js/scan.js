// One run of the junk scan, fed by the program's callbacks: progress, the
// running size and file name while it walks, then the report and the end.
import { ScanReport } from './report.js';
import { toBig } from './format.js';

export const ScanEnd = { finished: 1, stopped: 2, notStarted: 4 };

export class ScanSession {
    // purpose: 'scan' for a scan the user asked for, 'verify' for the one
    // after cleaning that measures what was freed.
    constructor(purpose, language) {
        this.purpose = purpose;
        this.report = new ScanReport(language);
        this.done = 0;
        this.total = 0;
        this.size = 0n;
        this.file = '';
        this.stopping = false;
        this.code = null;
    }

    progress(done, total) {
        this.done = Math.max(0, Number(done) || 0);
        this.total = Math.max(0, Number(total) || 0);
    }

    runningSize(size) {
        this.size = toBig(size);
    }

    fileFound(name) {
        this.file = String(name ?? '');
    }

    end(code) {
        this.code = Number(code);
        this.report.complete = this.code === ScanEnd.finished;
    }

    get fraction() {
        return this.total > 0 ? Math.min(1, this.done / this.total) : null;
    }
}
