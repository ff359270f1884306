// Small PNG pictures made in the test (a diagonal blend of two colours), so
// that no picture file travels with the tests. PNG is zlib data in chunks,
// each with a CRC-32; Node's zlib gives the first, the CRC is computed here.
import zlib from 'node:zlib';

const kCrcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function Crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = kCrcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function Chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(Crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// A `size` × `size` RGB picture going from `from` at the top left to `to` at
// the bottom right ([r, g, b] each).
export function BlendPng(size, from, to) {
  const rows = [];
  for (let y = 0; y < size; ++y) {
    const row = Buffer.alloc(1 + size * 3);  // filter byte 0: the row as it is
    for (let x = 0; x < size; ++x) {
      const t = (x + y) / (2 * (size - 1) || 1);
      for (let i = 0; i < 3; ++i) row[1 + x * 3 + i] = Math.round(from[i] + (to[i] - from[i]) * t);
    }
    rows.push(row);
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header[8] = 8;  // bits per sample
  header[9] = 2;  // RGB
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    Chunk('IHDR', header),
    Chunk('IDAT', zlib.deflateSync(Buffer.concat(rows))),
    Chunk('IEND', Buffer.alloc(0)),
  ]);
}
