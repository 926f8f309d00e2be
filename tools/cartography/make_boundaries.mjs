// Writes the fine boundary file (shorelines, lake shores, islands in lakes and national
// borders) in the GSHHS layout from the line dumps of GMT's `coast -M` over GSHHG.
//
// GMT dumps the binned GSHHG data as pieces cut at the edges of its 2-degree bins. This
// joins the pieces that meet end to start back into lines, drops edges that lie on the
// 180th meridian or at a pole (a ring cut there is an artefact, not a shore), thins each
// line with a Douglas-Peucker tolerance well below a picture pixel, and cuts it into
// short polylines, so that drawing can skip what lies off the picture. Consecutive
// pieces of one line share their end points, so the line is drawn without gaps.
//
// Output, little-endian: per polyline an 11-word header (id, n, flag = level | 15 << 8,
// west, east, south, north in micro-degrees, area and full area in tenths of a square
// kilometre of the ring the polyline comes from, container -1, ancestor -1), then n
// points (longitude, latitude) in micro-degrees, longitudes -180..180. Levels: 1 shore
// (Antarctica's ice front included), 2 lake, 3 island in a lake; borders are written as
// level 1 with area 0, as GSHHG's own border files do.
//
// Usage: node make_boundaries.mjs SHORES.txt BORDERS.txt OUTPUT [tolerance_m]
import { readFileSync, writeFileSync } from "node:fs";

const [shoreFile, borderFile, out, toleranceArg] = process.argv.slice(2);
if (!out) {
  console.error("usage: node make_boundaries.mjs SHORES.txt BORDERS.txt OUTPUT [tolerance_m]");
  process.exit(2);
}
const toleranceM = toleranceArg === undefined ? 50 : Number(toleranceArg);
const MICRO = 1e6;
const MAX_POINTS = 400; // per written polyline
const MAX_SPAN_DEG = 1.0; // latitude or longitude extent of a written polyline
const MIN_LAKE_KM2 = 10; // the reader skips smaller lakes
const EARTH_KM = 6371.0088;
const RAD = Math.PI / 180;

// Pieces as { level, xs, ys } with integer micro-degrees.
function readDump(file) {
  const pieces = [];
  let cur = null;
  for (const line of readFileSync(file, "utf8").split("\n")) {
    if (line.startsWith(">")) {
      const m = /Level (\d+)/.exec(line);
      cur = { level: m ? Number(m[1]) : 1, xs: [], ys: [] };
      pieces.push(cur);
    } else if (line.trim() !== "" && cur) {
      const [x, y] = line.trim().split(/\s+/).map(Number);
      cur.xs.push(Math.round(x * MICRO));
      cur.ys.push(Math.round(y * MICRO));
    }
  }
  return pieces.filter((p) => p.xs.length >= 2);
}

// Joins pieces of one level whose end meets another's start, into the longest chains.
function join(pieces) {
  const key = (x, y) => `${x},${y}`;
  const byStart = new Map();
  const byEnd = new Map();
  const add = (map, k, i) => (map.has(k) ? map.get(k).push(i) : map.set(k, [i]));
  pieces.forEach((p, i) => {
    add(byStart, key(p.xs[0], p.ys[0]), i);
    add(byEnd, key(p.xs.at(-1), p.ys.at(-1)), i);
  });
  const used = new Uint8Array(pieces.length);
  const take = (list) => {
    for (const i of list || []) if (!used[i]) { used[i] = 1; return i; }
    return -1;
  };
  const lines = [];
  for (let i = 0; i < pieces.length; ++i) {
    if (used[i]) continue;
    used[i] = 1;
    let chain = [i];
    const p0 = pieces[i];
    const closed = () => {
      const a = pieces[chain[0]], b = pieces[chain.at(-1)];
      return a.xs[0] === b.xs.at(-1) && a.ys[0] === b.ys.at(-1);
    };
    while (!closed()) {
      const last = pieces[chain.at(-1)];
      const next = take(byStart.get(key(last.xs.at(-1), last.ys.at(-1))));
      if (next < 0) break;
      chain.push(next);
    }
    while (!closed()) {
      const first = pieces[chain[0]];
      const prev = take(byEnd.get(key(first.xs[0], first.ys[0])));
      if (prev < 0) break;
      chain.unshift(prev);
    }
    const xs = [], ys = [];
    for (const j of chain) {
      const p = pieces[j];
      const from = xs.length > 0 ? 1 : 0; // the shared point once
      for (let k = from; k < p.xs.length; ++k) { xs.push(p.xs[k]); ys.push(p.ys[k]); }
    }
    lines.push({ level: p0.level, xs, ys, closed: closed() });
  }
  return lines;
}

// Area of a ring on the sphere, km^2 (the chain is taken as closed).
function ringAreaKm2(xs, ys) {
  let sum = 0;
  const n = xs.length;
  for (let i = 0; i < n; ++i) {
    const j = (i + 1) % n;
    let dl = (xs[j] - xs[i]) / MICRO;
    if (dl > 180) dl -= 360;
    if (dl < -180) dl += 360;
    sum += dl * RAD * (2 + Math.sin((ys[i] / MICRO) * RAD) + Math.sin((ys[j] / MICRO) * RAD));
  }
  return Math.abs((sum * EARTH_KM * EARTH_KM) / 2);
}

// An edge that only exists because a ring was cut at the antimeridian or a pole.
function artificialEdge(x1, y1, x2, y2) {
  const onMeridian = Math.abs(x1) === 180 * MICRO && x1 === x2;
  const atPole = Math.abs(y1) >= 89.99 * MICRO && Math.abs(y2) >= 89.99 * MICRO;
  return onMeridian || atPole;
}

let droppedEdges = 0;
function splitArtificial(line) {
  const parts = [];
  let xs = [line.xs[0]], ys = [line.ys[0]];
  for (let i = 1; i < line.xs.length; ++i) {
    if (artificialEdge(line.xs[i - 1], line.ys[i - 1], line.xs[i], line.ys[i])) {
      ++droppedEdges;
      if (xs.length >= 2) parts.push({ ...line, xs, ys });
      xs = []; ys = [];
    }
    xs.push(line.xs[i]); ys.push(line.ys[i]);
  }
  if (xs.length >= 2) parts.push({ ...line, xs, ys });
  return parts;
}

// Douglas-Peucker in a local plane (km), keeping both ends.
function thin(xs, ys, tolKm) {
  const n = xs.length;
  if (n <= 2 || tolKm <= 0) return [xs, ys];
  let latSum = 0;
  for (const y of ys) latSum += y;
  const kx = Math.cos((latSum / n / MICRO) * RAD) * EARTH_KM * RAD / MICRO;
  const ky = EARTH_KM * RAD / MICRO;
  const px = (i) => xs[i] * kx, py = (i) => ys[i] * ky;
  const keep = new Uint8Array(n);
  keep[0] = keep[n - 1] = 1;
  const stack = [[0, n - 1]];
  while (stack.length) {
    const [a, b] = stack.pop();
    if (b - a < 2) continue;
    const ax = px(a), ay = py(a), bx = px(b), by = py(b);
    const dx = bx - ax, dy = by - ay;
    const len2 = dx * dx + dy * dy;
    let worst = -1, worstD = -1;
    for (let i = a + 1; i < b; ++i) {
      let ex = px(i) - ax, ey = py(i) - ay;
      let d;
      if (len2 === 0) d = Math.hypot(ex, ey);
      else {
        const t = Math.max(0, Math.min(1, (ex * dx + ey * dy) / len2));
        d = Math.hypot(ex - t * dx, ey - t * dy);
      }
      if (d > worstD) { worstD = d; worst = i; }
    }
    if (worstD > tolKm) {
      keep[worst] = 1;
      stack.push([a, worst], [worst, b]);
    }
  }
  const ox = [], oy = [];
  for (let i = 0; i < n; ++i) if (keep[i]) { ox.push(xs[i]); oy.push(ys[i]); }
  return [ox, oy];
}

// Cuts a line into polylines of at most MAX_POINTS points and MAX_SPAN_DEG extent that
// share their end points.
function cut(xs, ys) {
  const out = [];
  let start = 0;
  while (start < xs.length - 1) {
    let w = xs[start], e = w, s = ys[start], nth = s;
    let end = start + 1;
    for (; end < xs.length; ++end) {
      const nw = Math.min(w, xs[end]), ne = Math.max(e, xs[end]);
      const ns = Math.min(s, ys[end]), nn = Math.max(nth, ys[end]);
      const tooBig = end - start + 1 > MAX_POINTS ||
        ((ne - nw > MAX_SPAN_DEG * MICRO || nn - ns > MAX_SPAN_DEG * MICRO) && end - start > 1);
      if (tooBig) break;
      w = nw; e = ne; s = ns; nth = nn;
    }
    const last = Math.min(end, xs.length) - 1;
    out.push([xs.slice(start, last + 1), ys.slice(start, last + 1)]);
    start = last;
  }
  return out;
}

const polylines = [];
let inputPoints = 0, joinedLines = 0, openLines = 0, keptPoints = 0, droppedLakes = 0;
function collect(pieces, isBorder) {
  const byLevel = new Map();
  for (const p of pieces) {
    inputPoints += p.xs.length;
    if (!byLevel.has(p.level)) byLevel.set(p.level, []);
    byLevel.get(p.level).push(p);
  }
  for (const [level, group] of byLevel) {
    if (!isBorder && level > 3) continue; // ponds in islands in lakes: not drawn
    for (const line of join(group)) {
      ++joinedLines;
      if (!line.closed) ++openLines;
      const areaKm2 = isBorder ? 0 : ringAreaKm2(line.xs, line.ys);
      if (!isBorder && level === 2 && areaKm2 < MIN_LAKE_KM2) { ++droppedLakes; continue; }
      for (const part of splitArtificial(line)) {
        const [tx, ty] = thin(part.xs, part.ys, toleranceM / 1000);
        for (const [xs, ys] of cut(tx, ty)) {
          polylines.push({ level: isBorder ? 1 : level, area: Math.round(areaKm2 * 10), xs, ys });
        }
      }
    }
  }
}
collect(readDump(shoreFile), false);
collect(readDump(borderFile), true);

// Neighbours on the ground next to each other in the file: 2-degree cells, row by row.
const cell = (p) => {
  const mx = (Math.min(...p.xs) + Math.max(...p.xs)) / 2 / MICRO;
  const my = (Math.min(...p.ys) + Math.max(...p.ys)) / 2 / MICRO;
  return Math.floor((90 - my) / 2) * 180 + Math.floor((mx + 180) / 2);
};
polylines.forEach((p) => (p.cell = cell(p)));
polylines.sort((a, b) => a.cell - b.cell);

const words = [];
polylines.forEach((p, id) => {
  const n = p.xs.length;
  keptPoints += n;
  words.push(id, n, p.level | (15 << 8),
    Math.min(...p.xs), Math.max(...p.xs), Math.min(...p.ys), Math.max(...p.ys),
    Math.min(p.area, 0x7fffffff), Math.min(p.area, 0x7fffffff), -1, -1);
  for (let i = 0; i < n; ++i) words.push(p.xs[i], p.ys[i]);
});
const buf = Buffer.alloc(words.length * 4);
words.forEach((w, i) => buf.writeInt32LE(w, 4 * i));
writeFileSync(out, buf);
console.log(`${out}: ${polylines.length} polylines, ${keptPoints} points ` +
  `(from ${inputPoints} points in ${joinedLines} joined lines, ${openLines} of them open; ${droppedLakes} lakes under ` +
  `${MIN_LAKE_KM2} km2 and ${droppedEdges} edges on the antimeridian or a pole dropped; ` +
  `thinned at ${toleranceM} m)`);
