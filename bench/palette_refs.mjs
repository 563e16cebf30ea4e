// The npm references' palettes for every cover palette_bench prepared, one JSON line per cover,
// library and N: colorthief (getPalette on the file's bytes, default quality) and Material Color
// Utilities (QuantizerCelebi on the 128 px reduction, then Score with filtering).
//
//   node palette_refs.mjs DIR    (run from a directory whose node_modules holds both)
import { readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';
import { getPalette } from 'colorthief';
import { pathToFileURL } from 'node:url';

// The package's index pulls in modules by paths without their extension, which Node's loader
// refuses; the quantiser and the scorer are taken from their own files.
const material = pathToFileURL(join(process.cwd(), 'node_modules/@material/material-color-utilities/'));
const { QuantizerCelebi } = await import(new URL('quantize/quantizer_celebi.js', material));
const { Score } = await import(new URL('score/score.js', material));

const directory = process.argv[2];
for (const file of readdirSync(directory).filter((f) => f.endsWith('.jpg')).sort()) {
    const cover = file.slice(0, -4);
    const reduced = readFileSync(join(directory, `${cover}.rgba128`));
    const width = reduced.readUInt32LE(0);
    const height = reduced.readUInt32LE(4);
    const pixels = [];
    for (let i = 0; i < width * height; ++i) {
        const [r, g, b, a] = reduced.subarray(8 + i * 4, 12 + i * 4);
        pixels.push(((a << 24) | (r << 16) | (g << 8) | b) >>> 0);
    }
    for (const n of [3, 5]) {
        const thief = await getPalette(readFileSync(join(directory, file)), { colorCount: n });
        console.log(JSON.stringify({ cover, library: 'colorthief', n, colours: (thief ?? []).map((c) => c.array()) }));
        const scored = Score.score(QuantizerCelebi.quantize(pixels, 128), { desired: n, filter: true });
        const colours = scored.map((argb) => [(argb >> 16) & 255, (argb >> 8) & 255, argb & 255]);
        console.log(JSON.stringify({ cover, library: 'material', n, colours }));
    }
}
