// Times the dominant-colour libraries from the npm registry on the same covers as colours_bench:
// each cover is decoded once with sharp, outside the timing; then the extraction call alone is
// timed (processor time), warm, and its median printed as one JSON line per cover and library.
//
//   node colours_peers.mjs COVER...    (run from a directory whose node_modules holds the three)
import { basename } from 'node:path';
import sharp from 'sharp';
import { extractColorsFromImageData } from 'extract-colors';
import { configure, getPalette } from 'colorthief';

const median = (values) => {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
};

async function timeCalls(call, warm, runs) {
    for (let i = 0; i < warm; ++i) await call();
    const times = [];
    // Processor time of the whole process, not wall time: the machine is shared, and the figures
    // are compared with the processor time colours_bench reports.
    for (let i = 0; i < runs; ++i) {
        const start = process.cpuUsage();
        await call();
        const used = process.cpuUsage(start);
        times.push((used.user + used.system) / 1000);
    }
    return median(times);
}

const covers = [];
for (const file of process.argv.slice(2)) {
    const { data, info } = await sharp(file).ensureAlpha().raw().toBuffer({ resolveWithObject: true });
    const pixels = { data: new Uint8ClampedArray(data.buffer, data.byteOffset, data.length), width: info.width, height: info.height };
    covers.push({ file, pixels });
}

// The loader hands colorthief the pixels sharp decoded, so only its extraction is timed.
let current = null;
configure({ loader: { load: async () => current } });
const thief = (cover) => {
    current = { data: cover.pixels.data, width: cover.pixels.width, height: cover.pixels.height };
    return getPalette(cover.file, { colorCount: 5 });
};

// Warm: every library on every cover before anything is timed, so the JIT has settled.
for (let pass = 0; pass < 2; ++pass) {
    for (const cover of covers) {
        extractColorsFromImageData(cover.pixels);
        await thief(cover);
    }
}

for (const cover of covers) {
    const name = basename(cover.file);
    const decodeMs = await timeCalls(() => sharp(cover.file).ensureAlpha().raw().toBuffer(), 1, 5);
    console.log(JSON.stringify({ cover: name, library: 'sharp decode', medianMs: decodeMs }));
    const extractMs = await timeCalls(() => extractColorsFromImageData(cover.pixels), 2, 9);
    console.log(JSON.stringify({ cover: name, library: 'extract-colors', medianMs: extractMs }));
    const thiefMs = await timeCalls(() => thief(cover), 1, 7);
    console.log(JSON.stringify({ cover: name, library: 'colorthief', medianMs: thiefMs }));
}
