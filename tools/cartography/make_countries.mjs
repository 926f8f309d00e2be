// Writes the boundary file in the program's native format from Natural Earth's 1:10m
// admin-0 countries (public domain), as packaged in world-atlas.
//
// Native format: records of { int32 N, uint8 kind, N x (int16 lon*60, int16 lat*60) },
// little-endian, no header. Every polygon ring becomes one segment of kind 0 (the program
// closes native segments itself, so the ring's repeated first point is dropped); points
// are rounded to whole arc-minutes and consecutive repeats are dropped.
//
// Usage: npm install && node make_countries.mjs OUTPUT
import { readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { feature } from "topojson-client";

const require = createRequire(import.meta.url);
const out = process.argv[2];
if (!out) {
  console.error("usage: node make_countries.mjs OUTPUT");
  process.exit(2);
}

const topology = JSON.parse(readFileSync(require.resolve("world-atlas/countries-10m.json"), "utf8"));
const countries = feature(topology, topology.objects.countries);

const records = [];
let points = 0;
function addRing(ring) {
  const cells = [];
  for (const [lon, lat] of ring) {
    const x = Math.round(lon * 60);
    const y = Math.round(lat * 60);
    const last = cells[cells.length - 1];
    if (!last || last[0] !== x || last[1] !== y) cells.push([x, y]);
  }
  // The ring's closing point repeats its first.
  while (cells.length > 1) {
    const a = cells[0], b = cells[cells.length - 1];
    if (a[0] === b[0] && a[1] === b[1]) cells.pop(); else break;
  }
  if (cells.length < 2) return;
  const buf = Buffer.alloc(5 + 4 * cells.length);
  buf.writeInt32LE(cells.length, 0);
  buf.writeUInt8(0, 4);
  cells.forEach(([x, y], i) => {
    buf.writeInt16LE(x, 5 + 4 * i);
    buf.writeInt16LE(y, 7 + 4 * i);
  });
  records.push(buf);
  points += cells.length;
}

for (const f of countries.features) {
  const g = f.geometry;
  if (!g) continue;
  const polygons = g.type === "Polygon" ? [g.coordinates] : g.type === "MultiPolygon" ? g.coordinates : [];
  for (const polygon of polygons) for (const ring of polygon) addRing(ring);
}

writeFileSync(out, Buffer.concat(records));
console.log(`${out}: ${records.length} segments, ${points} points from ${countries.features.length} countries`);
