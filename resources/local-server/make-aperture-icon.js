'use strict';
// Writes "aperture-icon.png", the placeholder picture of a photo gallery in the design view:
// a 64x64 camera aperture drawn in greys on a transparent background.
//
//   node make-aperture-icon.js <output file>

const fs = require('fs');
const zlib = require('zlib');

const size = 64;
const centre = (size - 1) / 2;
const outer = 30;
const inner = 9;
const blades = 6;

const rows = [];
for (let y = 0; y < size; y++) {
    const row = Buffer.alloc(1 + size * 4); // filter byte 0, then RGBA
    for (let x = 0; x < size; x++) {
        const dx = x - centre;
        const dy = y - centre;
        const r = Math.sqrt(dx * dx + dy * dy);
        let alpha = 0;
        let grey = 0;
        if (r <= outer + 0.5) {
            alpha = Math.round(255 * Math.min(1, outer + 0.5 - r));
            if (r > outer - 3) {
                grey = 60; // rim
            } else {
                // Each blade is a sector twisted with the radius; the open centre is a hexagon.
                const angle = Math.atan2(dy, dx) + Math.PI;
                const sector = (2 * Math.PI) / blades;
                const twisted = (angle + r / 9) % (2 * Math.PI);
                const blade = Math.floor(twisted / sector);
                const local = angle % sector - sector / 2;
                const hexRadius = inner / Math.cos(local);
                if (r < hexRadius) {
                    alpha = 0;
                } else {
                    grey = blade % 2 === 0 ? 110 : 150;
                    const edge = (twisted % sector) / sector;
                    if (edge < 0.06) grey = 70;
                }
            }
        }
        row[1 + x * 4] = grey;
        row[1 + x * 4 + 1] = grey;
        row[1 + x * 4 + 2] = grey;
        row[1 + x * 4 + 3] = alpha;
    }
    rows.push(row);
}

const crcTable = new Int32Array(256).map((_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c;
});
function crc32(buffer) {
    let c = -1;
    for (const byte of buffer) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
    return (c ^ -1) >>> 0;
}
function chunk(type, data) {
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(body));
    return Buffer.concat([length, body, crc]);
}

const header = Buffer.alloc(13);
header.writeUInt32BE(size, 0);
header.writeUInt32BE(size, 4);
header[8] = 8; // bit depth
header[9] = 6; // RGBA
const png = Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(Buffer.concat(rows), { level: 9 })),
    chunk('IEND', Buffer.alloc(0)),
]);
fs.writeFileSync(process.argv[2], png);
