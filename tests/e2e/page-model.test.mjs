// The page's pure parts without a browser: sizes as people read them, the
// scan report and its ticks, and the eight languages' texts.
//   cd tests/e2e && node --test
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { formatSize, toBig } from '../../html/js/format.js';
import { ScanReport, cleaningJobs, leftAfter, selectedSize, setTicked, tickState } from '../../html/js/report.js';
import { languageForId, languages } from '../../html/js/i18n.js';

const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];

test('sizes read as binary units, exact for every 64-bit value', () => {
    const quiet = console.warn;
    console.warn = () => {};
    try {
        for (const [bytes, locale, expected] of [
            ['0', 'en', '0 B'],
            ['1023', 'en', '1,023 B'],
            ['1024', 'en', '1 KiB'],
            ['1536', 'en', '1.5 KiB'],
            ['1536', 'de', '1,5 KiB'],
            // 1.2353 KiB: rounded up, not truncated to 1.235 and then down.
            ['1265', 'en', '1.24 KiB'],
            ['10235', 'en', '10 KiB'],
            [String(100 * 1024 * 1024 - 1), 'en', '100 MiB'],
            // Just below a unit: not "1,024 MiB".
            ['1073741823', 'en', '1 GiB'],
            ['1288490188', 'en', '1.2 GiB'],
            ['18446744073709551615', 'en', '16 EiB'],
            ['-2048', 'en', '−2 KiB'],
            [5 * 1024, 'en', '5 KiB'],
            // Malformed sizes count as nothing rather than breaking a total.
            ['12abc', 'en', '0 B'],
            [undefined, 'en', '0 B'],
        ])
            assert.equal(formatSize(bytes, locale, units), expected, `${bytes} in ${locale}`);
    } finally {
        console.warn = quiet;
    }
    assert.equal(formatSize('1536', 'fr', languages[3].texts.units), '1,5 Kio');
});

// A small report: two programs with items, one without (cleaned whole).
function sampleReport() {
    const report = new ScanReport('en');
    report.begin('1', '1');   // the total sent when counting ends
    report.addGroup('stale', '1', '1', '99');
    report.begin('9007199254741000', '0');   // the report proper starts again
    report.addGroup('System', '9007199254740998', '9007199254740993', '1');
    report.addProgram('Temp', '9007199254740994', '9007199254740993', '4026531841');
    report.addItem('Big', '9007199254740993', '11', true);
    report.addItem('Small', '1', '12', true);
    report.addItem('Kept', '0', '13', false);
    report.addFiles([{ fileName: 'a.log', size: '1' }]);
    report.addFiles([{ fileName: 'b.log', size: '-5' }]);
    report.addProgram('Bin', '4', '4', '61000088');
    report.addGroup('Browsers', '2', '0', '3');
    report.addProgram('Web', '2', '0', '3001');
    report.addItem('Cache', '2', '31', false);
    report.addItem('Cache copy', '0', '31', false);
    return report;
}

test('the report keeps what follows the last total, with the program\'s ids and ticks', () => {
    const report = sampleReport();
    assert.deepEqual(report.groups.map((group) => group.name), ['System', 'Browsers']);
    const [system, browsers] = report.groups;
    assert.deepEqual(system.programs[0].items.at(-1).files, [{ name: 'a.log', size: 1n }, { name: 'b.log', size: -5n }]);
    // Past 2^53 a Number sum would be off.
    assert.equal(selectedSize(report), 9007199254740998n);
    assert.equal(report.found, 9007199254741000n);
    assert.deepEqual([tickState(system), tickState(system.programs[0]), tickState(system.programs[1]), tickState(browsers)],
        ['some', 'some', 'all', 'none']);
    assert.deepEqual(cleaningJobs(report).map(({ groupId, programId, itemIds }) => [groupId, programId, itemIds]), [
        ['1', '4026531841', ['11', '12']],
        ['1', '61000088', []],
    ]);

    // Ticking a level ticks everything below; an id listed twice goes once.
    setTicked(browsers, true);
    setTicked(system.programs[1], false);
    assert.equal(tickState(system), 'some');
    assert.deepEqual(cleaningJobs(report).map(({ programId, itemIds }) => [programId, itemIds]), [
        ['4026531841', ['11', '12']],
        ['3001', ['31']],
    ]);
    setTicked(report.groups[0], false);
    setTicked(report.groups[1], false);
    assert.deepEqual(cleaningJobs(report), []);
    assert.equal(selectedSize(report), 0n);
});

test('what a later scan still finds of a cleaned program', () => {
    const before = sampleReport();
    const [temp, bin] = cleaningJobs(before);
    const after = new ScanReport('en');
    after.begin('10');
    after.addGroup('System', '10', '0', '1');
    after.addProgram('Temp', '6', '0', '4026531841');
    after.addItem('Small', '1', '12', true);
    after.addItem('Kept', '5', '13', false);
    after.addProgram('Bin', '4', '4', '61000088');
    assert.equal(leftAfter(temp, after), 1n);
    assert.equal(leftAfter(bin, after), 4n);
    assert.equal(leftAfter(temp, new ScanReport('en')), 0n);
});

// Every string leaf with its key, and the plural forms as objects.
function leaves(node, prefix = '') {
    return Object.entries(node).flatMap(([key, value]) => {
        const path = prefix ? `${prefix}.${key}` : key;
        if (typeof value === 'object' && !Array.isArray(value) && !Object.keys(value).every((k) => ['zero', 'one', 'two', 'few', 'many', 'other'].includes(k)))
            return leaves(value, path);
        return [[path, value]];
    });
}

function placeholders(text) {
    return [...String(text).matchAll(/\{(\w+)\}/g)].map((match) => match[1]).sort();
}

test('all eight languages are complete translations in the program\'s order', () => {
    assert.deepEqual(languages.map((language) => [language.code, language.id]), [
        ['zh', 2052], ['en', 1033], ['de', 1031], ['fr', 1036], ['es', 3082], ['pt', 2070], ['ru', 1049], ['it', 1040]]);
    const english = new Map(leaves(languages[1].texts));
    // Words that are the same in English and that language.
    const sameAsEnglish = { de: ['version', 'result.showFiles.one'], fr: ['version'], it: ['large.count.one'] };
    for (const { code, texts } of languages) {
        const entries = leaves(texts);
        assert.deepEqual(entries.map(([key]) => key).sort(), [...english.keys()].sort(), `${code}: the same texts as English`);
        assert.equal(texts.units.length, english.get('units').length, `${code}: units`);
        const categories = new Intl.PluralRules(texts.tag).resolvedOptions().pluralCategories.sort();
        for (const [key, value] of entries) {
            if (key === 'units')
                continue;
            const forms = typeof value === 'object' ? value : { other: value };
            const englishForms = typeof english.get(key) === 'object' ? english.get(key) : { other: english.get(key) };
            if (typeof value === 'object')
                assert.deepEqual(Object.keys(value).sort(), categories, `${code}: plural forms of ${key}`);
            for (const [form, text] of Object.entries(forms)) {
                assert.ok(typeof text === 'string' && text.trim(), `${code}: ${key} is empty`);
                assert.deepEqual(placeholders(text), placeholders(englishForms.other), `${code}: placeholders of ${key}.${form}`);
                if (code !== 'en' && !['name', 'tag'].includes(key) && englishForms[form] === text)
                    assert.ok((sameAsEnglish[code] ?? []).includes(typeof value === 'object' ? `${key}.${form}` : key),
                        `${code}: ${key} is not translated`);
            }
        }
    }
});

test('a language id finds its language, also for other countries\' variants', () => {
    for (const [id, code] of [[2052, 'zh'], [1033, 'en'], [2057, 'en'], [1031, 'de'], [3079, 'de'], [3082, 'es'],
        [1034, 'es'], [2070, 'pt'], [1046, 'pt'], [1049, 'ru'], [1040, 'it'], [1036, 'fr'], [1041, null], [0, null]])
        assert.equal(languageForId(id)?.code ?? null, code, `id ${id}`);
    assert.equal(toBig('18446744073709551615'), 2n ** 64n - 1n);
});
