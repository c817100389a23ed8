// Sizes and counts for people. Sizes cross the bridge as decimal strings
// so that 64-bit values keep every digit; they stay BigInt here until the
// moment they are shown.

// "123" → 123n; a number is accepted too. Anything else is 0n, logged: a
// malformed size must not break the page or a total.
export function toBig(value) {
    if (typeof value === 'bigint')
        return value;
    if (typeof value === 'number' && Number.isFinite(value))
        return BigInt(Math.trunc(value));
    if (typeof value === 'string' && /^-?\d+$/.test(value))
        return BigInt(value);
    console.warn('not a size:', value);
    return 0n;
}

// Binary units: 1536n ⇒ "1.5 KiB", 1023n ⇒ "1,023 B" (en). A value that
// would round up to 1024 of a unit is shown in the next one.
export function formatSize(bytes, locale, units) {
    let value = toBig(bytes);
    const negative = value < 0n;
    if (negative)
        value = -value;
    let unit = 0;
    let scale = 1n;
    while (unit < units.length - 1 && value >= scale * 1024n) {
        scale *= 1024n;
        ++unit;
    }
    let text;
    if (unit === 0) {
        text = new Intl.NumberFormat(locale).format(value);
    } else {
        // Rounded in whole numbers, exact for any 64-bit size: a double's
        // 1.235 is 1.2349999…, which a formatter would round down.
        let digits = fractionDigits(value / scale);
        let rounded = roundDiv(value * 10n ** digits, scale);
        if (rounded >= 1024n * 10n ** digits && unit < units.length - 1) {
            scale *= 1024n;
            ++unit;
            digits = fractionDigits(value / scale);
            rounded = roundDiv(value * 10n ** digits, scale);
        }
        const amount = Number(rounded) / 10 ** Number(digits);
        text = new Intl.NumberFormat(locale, { maximumFractionDigits: Number(digits) }).format(amount);
    }
    return `${negative ? '−' : ''}${text} ${units[unit]}`;
}

// Two decimals below 10 and one below 100, so that a column reads evenly.
function fractionDigits(whole) {
    return whole < 10n ? 2n : whole < 100n ? 1n : 0n;
}

function roundDiv(numerator, denominator) {
    return (numerator + denominator / 2n) / denominator;
}

// Disk sizes arrive in MiB as doubles.
export function mibToBytes(mib) {
    const value = Number(mib);
    return Number.isFinite(value) && value > 0 ? BigInt(Math.round(value * 1048576)) : 0n;
}

export function formatCount(count, locale) {
    return new Intl.NumberFormat(locale).format(count);
}
