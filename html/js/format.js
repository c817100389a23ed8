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

// Binary units: 1536n ⇒ "1.5 KiB", 1023n ⇒ "1,023 B" (en), two decimals
// below 10 and one below 100, so that a column of sizes reads evenly. A
// value that would round up to 1024 of a unit is shown in the next one.
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
        // Whole units plus the remainder to 1/1000, exact for any 64-bit size.
        let amount = Number(value / scale) + Number((value % scale) * 1000n / scale) / 1000;
        if (amount >= 1023.5 && unit < units.length - 1) {
            amount /= 1024;
            ++unit;
        }
        const digits = amount < 10 ? 2 : amount < 100 ? 1 : 0;
        text = new Intl.NumberFormat(locale, { maximumFractionDigits: digits }).format(amount);
    }
    return `${negative ? '−' : ''}${text} ${units[unit]}`;
}

// Disk sizes arrive in MiB as doubles.
export function mibToBytes(mib) {
    const value = Number(mib);
    return Number.isFinite(value) && value > 0 ? BigInt(Math.round(value * 1048576)) : 0n;
}

export function formatCount(count, locale) {
    return new Intl.NumberFormat(locale).format(count);
}
