// The page's own texts in eight languages. Names of groups, programs and
// items are not here: the program reports them already translated.
import zh from '../i18n/zh.js';
import en from '../i18n/en.js';
import de from '../i18n/de.js';
import fr from '../i18n/fr.js';
import es from '../i18n/es.js';
import pt from '../i18n/pt.js';
import ru from '../i18n/ru.js';
import it from '../i18n/it.js';

// Index order is the program's language table; ids are Windows language ids.
export const languages = [
    { code: 'zh', id: 2052, texts: zh },
    { code: 'en', id: 1033, texts: en },
    { code: 'de', id: 1031, texts: de },
    { code: 'fr', id: 1036, texts: fr },
    { code: 'es', id: 3082, texts: es },
    { code: 'pt', id: 2070, texts: pt },
    { code: 'ru', id: 1049, texts: ru },
    { code: 'it', id: 1040, texts: it },
];

const english = languages[1];
let current = english;
// The product's name as the program's configuration has it; texts say {product}.
let product = 'Clean';

// Exact id first, then the primary language (low 10 bits), so that en-GB
// (2057) or pt-BR (1046) still find their language; English otherwise.
export function languageForId(id) {
    const number = Number(id);
    return languages.find((language) => language.id === number)
        ?? languages.find((language) => (language.id & 0x3ff) === (number & 0x3ff))
        ?? null;
}

export function languageForTag(tag) {
    const primary = String(tag || '').toLowerCase().split(/[-_]/)[0];
    return languages.find((language) => language.code === primary) ?? null;
}

export function setLanguage(language) {
    current = language ?? english;
    document.documentElement.lang = current.texts.tag;
}

export function setProduct(name) {
    product = name;
}

export function currentLanguage() {
    return current;
}

function lookup(texts, key) {
    return key.split('.').reduce((node, part) => (node == null ? undefined : node[part]), texts);
}

// t('done.freed', { size: '2 GiB' }). A text may be plural forms keyed by
// Intl.PluralRules categories, chosen by params.n. A key missing in a
// language falls back to English rather than showing the key.
export function t(key, params = {}) {
    params = { product, ...params };
    let text = lookup(current.texts, key) ?? lookup(english.texts, key);
    if (text === undefined) {
        console.warn('no text for', key);
        return key;
    }
    if (typeof text === 'object' && !Array.isArray(text)) {
        const category = new Intl.PluralRules(current.texts.tag).select(Number(params.n ?? 0));
        text = text[category] ?? text.other;
    }
    return String(text).replace(/\{(\w+)\}/g, (match, name) => (name in params ? String(params[name]) : match));
}

export function units() {
    return current.texts.units;
}

export function locale() {
    return current.texts.tag;
}
