// The search page, search\index.htm. It is opened from disk (file://), where
// a page can load nothing but scripts, so it reads the index through <script>
// elements, a file at a time as a query needs it (see search_index.h for the
// files). Every text it shows comes from mail and is put into the page as
// text (textContent), never as markup.
#include "search/search_index.h"

namespace larkspur {

std::string search_page_html() {
  return R"PAGE(<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>全文検索 - メールマガジン アーカイブ</title>
<script>
// state.js is asked for at once, while the rest of the page is still read;
// calls it makes before the page's script has run wait in LS.early.
window.LS = { early: [] };
["state", "seg", "list", "tail", "gone"].forEach(function (call) {
  LS[call] = function () { LS.early.push([call, arguments]); };
});
window.larkspurState = new Promise(function (resolve) {
  var s = document.createElement("script");
  s.src = "state.js?" + Date.now();
  s.onload = s.onerror = function () { resolve(); };
  document.head.appendChild(s);
});
</script>
<style>
  body { margin: 0; font: 15px/1.6 "Hiragino Kaku Gothic ProN", Meiryo, "Yu Gothic", "IPAPGothic", sans-serif;
         color: #1f2933; background: #f4f6f9; }
  header { padding: 12px 16px; background: #fff; border-bottom: 1px solid #dde3ea; display: flex; gap: 12px;
           align-items: center; flex-wrap: wrap; }
  h1 { margin: 0; font-size: 18px; font-weight: 600; }
  form { display: flex; gap: 6px; flex: 1 1 24em; }
  input { flex: 1; min-width: 0; padding: 6px 10px; font: inherit; border: 1px solid #dde3ea; border-radius: 6px; }
  button { padding: 6px 12px; font: inherit; border: 1px solid #dde3ea; border-radius: 6px; background: #fff; cursor: pointer; }
  main { max-width: 60em; margin: 0 auto; padding: 8px 16px 32px; }
  #status { color: #6b7785; margin: 8px 0; }
  ol { list-style: none; padding: 0; margin: 0; }
  li { background: #fff; border: 1px solid #dde3ea; border-radius: 6px; padding: 10px 14px; margin: 8px 0; }
  li a { font-weight: 600; color: #2f6fb3; text-decoration: none; }
  li a:hover { text-decoration: underline; }
  .meta { color: #6b7785; font-size: 13px; }
  .snippet { margin-top: 4px; white-space: pre-wrap; overflow-wrap: anywhere; }
  mark { background: #ffe36e; color: inherit; padding: 0 1px; }
  nav { display: flex; gap: 8px; justify-content: center; margin: 12px 0; }
  nav[hidden] { display: none; }
</style>
</head>
<body>
<header>
  <h1>全文検索</h1>
  <form id="form" role="search">
    <input id="q" type="search" placeholder="検索する言葉（空白で区切るとすべてを含むもの）" autocomplete="off" autofocus>
    <button type="submit">検索</button>
  </form>
</header>
<main>
  <div id="status" role="status">言葉を入れて検索してください。</div>
  <ol id="hits"></ol>
  <nav id="pager" hidden><button type="button" id="prev">前へ</button><button type="button" id="next">次へ</button></nav>
</main>
<script>
"use strict";
(function () {
  var PAGE_HITS = 20, DIGITS = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
  var FORMAT = )PAGE" + std::to_string(kSearchIndexFormat) + R"PAGE(;
  var state = null, names = [], shards = {}, chunks = {}, tails = {}, loaded = {};
  var unpacking = {};
  // n.js's lines LS.n(...) as written, one per message of the generation,
  // read when the message is first needed (nameOf): a query shows a few of
  // tens of thousands.
  var nameLines = [];
  var early = window.LS.early;
  // The index files call these as they load.
  window.LS = {
    // An index of another layout is as none: Larkspur builds it anew.
    state: function (gen, docs, nshards, chunk, format) {
      state = { gen: gen, docs: docs, shards: nshards, chunk: chunk, lists: [], tail: [], segs: [], gone: {}, usable: format === FORMAT };
    },
    seg: function (first, end, nshards) { state.segs.push({ first: first, end: end, shards: nshards }); },
    list: function (name, newest) { state.lists.push(name); },
    tail: function (id, list, name, subject) {
      if (typeof name === "string" && typeof subject === "string") state.tail.push([id, list, name, subject]);
    },
    // Messages of the generation whose logs are gone or changed since: never answered.
    gone: function () { for (var i = 0; i < arguments.length; i++) state.gone[arguments[i]] = true; },
    p: function (k) {
      var map = new Map();
      for (var i = 1; i + 1 < arguments.length; i += 2) map.set(arguments[i], arguments[i + 1]);
      shards["p" + k] = map;
    },
    q: function (first, k) {
      var map = new Map();
      for (var i = 2; i + 1 < arguments.length; i += 2) map.set(arguments[i], arguments[i + 1]);
      shards["s" + first + "_" + k] = map;
    },
    sm: function (id, list, name) { if (typeof name === "string") names[id] = [list, name]; },
    x: function (id, text) { tails[id] = text; },
    // A packed file: deflated lines in UTF-8 (or a text file's content, see
    // readTexts) in a literal read as x-user-defined, where a byte is the
    // unit's low byte. Each line is a call whose arguments are JSON.
    z: function (name, hash, bytes) {
      var raw = new Uint8Array(bytes.length);
      for (var i = 0; i < bytes.length; i++) raw[i] = bytes.charCodeAt(i) & 0xFF;
      var inflater = new DecompressionStream("deflate-raw"), writer = inflater.writable.getWriter();
      // A damaged file fails the reading below; these failures say the same.
      writer.write(raw).catch(function () {});
      writer.close().catch(function () {});
      unpacking[name] = new Response(inflater.readable).arrayBuffer().then(function (buffer) {
        if (name.charAt(0) === "t") return readTexts(Number(name.slice(1)), new Uint8Array(buffer));
        var text = new TextDecoder("utf-8").decode(buffer);
        if (name === "n") {
          nameLines = text.split("\n");
          if (nameLines[nameLines.length - 1] === "") nameLines.pop();
          return true;
        }
        // The calls' arguments are parsed as one JSON array, one parse a
        // file rather than one a line.
        var calls = [];
        text.split("\n").forEach(function (line) {
          var open = line.indexOf("("), call = line.slice(3, open), args = line.slice(open + 1, -2);
          if (line.lastIndexOf("LS.", 0) !== 0 || open < 0 || line.slice(-2) !== ");") return;
          if (call !== "z" && LS.hasOwnProperty(call)) calls.push("[\"" + call + "\"" + (args ? "," + args : "") + "]");
        });
        JSON.parse("[" + calls.join(",") + "]").forEach(function (call) { LS[call[0]].apply(null, call.slice(1)); });
        return true;
      }).catch(function () { return false; });
    }
  };
  // A text file's content: a head line "C,<length of each text's literal>,
  // <length of each subject's>", then those literals, JSON in Shift_JIS. A
  // literal is decoded when its message is first needed (literalOf): a query
  // needs a message or two of a file.
  function readTexts(chunk, bytes) {
    var end = bytes.indexOf(10), head = end < 0 ? "" : new TextDecoder("utf-8").decode(bytes.subarray(0, end));
    if (!/^\d{1,9}(,\d{1,9})+$/.test(head)) return false;
    var lengths = head.split(",").map(Number), starts = [end + 1];
    for (var i = 1; i < lengths.length; i++) starts.push(starts[i - 1] + lengths[i]);
    if (lengths.length % 2 === 0 || lengths[0] !== chunk || starts[starts.length - 1] !== bytes.length) return false;
    chunks[chunk] = { bytes: bytes, starts: starts, count: (lengths.length - 1) / 2, literals: [] };
    return true;
  }
  var sjis = null;
  // The chunk's i-th literal: a string, or 0 for a subject that is its
  // text's first line ("" where the file is damaged).
  function literalOf(chunk, i) {
    if (chunk.literals[i] === undefined) {
      var value = "";
      try {
        sjis = sjis || new TextDecoder("shift_jis");
        value = JSON.parse(sjis.decode(chunk.bytes.subarray(chunk.starts[i], chunk.starts[i + 1])));
      } catch (e) {}
      chunk.literals[i] = typeof value === "string" || value === 0 ? value : "";
    }
    return chunk.literals[i];
  }
  // Packed files are waited for until their lines have run; state.js and
  // the tail's files (x*.js) are plain UTF-8.
  function load(src, isPacked) {
    if (!loaded[src]) {
      loaded[src] = new Promise(function (resolve) {
        var s = document.createElement("script");
        if (isPacked) s.charset = "x-user-defined";
        s.src = src;
        s.onload = function () {
          var name = src.substring(src.lastIndexOf("/") + 1).replace(/\.js$/, "");
          resolve(isPacked ? unpacking[name] || false : true);
        };
        s.onerror = function () { resolve(false); };
        document.head.appendChild(s);
      });
    }
    return loaded[src];
  }
  function fold(text) { return text.normalize("NFKC").toLowerCase(); }
  function words(query) { return fold(query).split(/\s+/).filter(function (w) { return w.length > 0; }); }
  function shardOf(key, n) {
    var second = key.length > 1 ? key.charCodeAt(1) : -1;
    return ((Math.imul(key.charCodeAt(0), 0x9E3779B1) ^ Math.imul(second + 1, 0x85EBCA6B)) >>> 22) % n;
  }
  // The posting files of a key: its generation's, then each segment's, as
  // [file, name of its loaded map].
  function shardFiles(key) {
    var k = shardOf(key, state.shards), out = [[folder() + "p" + k + ".js", "p" + k]];
    state.segs.forEach(function (s) {
      var j = shardOf(key, s.shards);
      out.push([folder() + "s" + s.first + "_" + s.end + "p" + j + ".js", "s" + s.first + "_" + j]);
    });
    return out;
  }
  function keysOf(word) {
    if (word.length <= 2) return [word];
    var keys = [];
    for (var i = 0; i + 1 < word.length; i++) if (keys.indexOf(word.substr(i, 2)) < 0) keys.push(word.substr(i, 2));
    return keys;
  }
  // Gaps as digits, five bits each, low first; "." and a length: a run of
  // consecutive ids. Or "~", k, then a Rice code: six bits a digit, most
  // significant first; per id, its gap's quotient by 2^k in 1 bits and a 0,
  // then the gap's low k bits.
  // Each digit's value by its character code (-1: not a digit): the
  // postings of a frequent key run to tens of thousands of digits.
  var DIGIT_VALUE = new Int8Array(128).fill(-1);
  for (var d = 0; d < DIGITS.length; d++) DIGIT_VALUE[DIGITS.charCodeAt(d)] = d;
  function digitAt(digits, i) {
    var c = digits.charCodeAt(i);
    return c < 128 ? DIGIT_VALUE[c] : -1;
  }
  function decodeRice(digits) {
    var ids = [], last = -1, k = digitAt(digits, 1), unit = Math.pow(2, k), q = 0, r = 0, n = 0, inR = false;
    if (k < 0 || k > 30) return ids;
    for (var i = 2; i < digits.length; i++) {
      var v = digitAt(digits, i);
      if (v < 0) break;
      for (var b = 5; b >= 0; b--) {
        var bit = (v >> b) & 1;
        if (!inR) {
          if (bit) { q++; continue; }
          inR = true;
        } else { r = r * 2 + bit; n++; }
        if (n === k) { last += q * unit + r + 1; ids.push(last); q = 0; r = 0; n = 0; inR = false; }
      }
    }
    return ids;
  }
  function decode(digits) {
    if (digits.charAt(0) === "~") return decodeRice(digits);
    var ids = [], last = -1, gap = 0, scale = 1, run = false;
    for (var i = 0; i < digits.length; i++) {
      if (digits.charAt(i) === "." && !run && scale === 1) { run = true; continue; }
      var v = digitAt(digits, i);
      if (v < 0) break;
      if (v >= 32) { gap += (v - 32) * scale; scale *= 32; continue; }
      gap += v * scale;
      if (run) { for (var k = 0; k < gap; k++) ids.push(++last); } else { last += gap + 1; ids.push(last); }
      gap = 0; scale = 1; run = false;
    }
    return ids;
  }
  function intersect(a, b) {
    var out = [], i = 0, j = 0;
    while (i < a.length && j < b.length) {
      if (a[i] < b[j]) i++; else if (a[i] > b[j]) j++; else { out.push(a[i]); i++; j++; }
    }
    return out;
  }
  function folder() { return "g" + state.gen + "/"; }
  // located: state.js has run (state is set, or null without a usable
  // index); ready: the message lists have loaded too. A query's posting
  // and tail files need only the state: they load while the lists do,
  // asked for after them.
  var located = null;
  function start() {
    state = null;
    // The first time, state.js is the one the page's head asked for.
    located = (early ? window.larkspurState : load("state.js?" + Date.now())).then(function () {
      try {
        (early || []).forEach(function (call) { LS[call[0]].apply(null, call[1]); });
      } catch (e) {
        state = null;  // a damaged state.js is as none: the page looks for it again
      }
      early = null;
      if (state && !state.usable) state = null;
    });
    return located.then(function () {
      if (!state) return false;
      return Promise.all([load(folder() + "n.js", true)].concat(state.segs.map(function (s) {
        return load(folder() + "s" + s.first + "_" + s.end + "m.js", true);
      })));
    });
  }
  var ready = start();
  function textOf(id) {
    if (id >= state.docs) return tails[id];
    var c = chunks[Math.floor(id / state.chunk)], i = id % state.chunk;
    return c && i < c.count ? literalOf(c, i) || "" : undefined;
  }
  function holds(id, ws) {
    var f = fold(textOf(id) || "");
    return ws.every(function (w) { return f.indexOf(w) >= 0; });
  }
  // A message of the generation as [list, name], from its line
  // LS.n(<list>,"<name>"); (a name without quotes or escapes is taken as it
  // stands, the rest parsed as JSON).
  function nameOf(id) {
    var line = nameLines[id];
    if (line !== undefined) {
      nameLines[id] = undefined;
      var comma = line.indexOf(","), name = line.slice(comma + 1, -2);
      try {
        var parsed = /^"[^"\\]*"$/.test(name) ? name.slice(1, -1) : JSON.parse(name);
        if (line.lastIndexOf("LS.n(", 0) === 0 && line.slice(-2) === ");" && comma > 0 && typeof parsed === "string") {
          names[id] = [Number(line.slice(5, comma)), parsed];
        }
      } catch (e) {}
    }
    return names[id];
  }
  // Whether the generation's message `id` is listed, without reading its line.
  function listed(id) { return nameLines[id] !== undefined || names[id] !== undefined; }
  function docOf(id) {
    if (id < state.docs) {
      var n = nameOf(id);
      return n ? { id: id, list: n[0], name: n[1] } : null;
    }
    for (var i = 0; i < state.tail.length; i++) {
      var t = state.tail[i];
      if (t[0] === id) return { id: id, list: t[1], name: t[2], subject: t[3] };
    }
    return null;
  }
  // A subject, once the text file of its message is loaded: 0 stands for
  // the first line of its text.
  function subjectOf(doc) {
    if (doc.id >= state.docs) return doc.subject;
    var c = chunks[Math.floor(doc.id / state.chunk)], i = doc.id % state.chunk;
    var subject = c && i < c.count ? literalOf(c, c.count + i) : "";
    if (subject !== 0) return subject;
    var text = textOf(doc.id) || "";
    return text.indexOf("\n") < 0 ? text : text.substr(0, text.indexOf("\n"));
  }
  function newestFirst(a, b) {
    var da = a.name.substr(0, 14), db = b.name.substr(0, 14);
    return da !== db ? (da < db ? 1 : -1) : b.id - a.id;
  }
  function sortedDocs(ids) { return ids.map(docOf).filter(function (d) { return d !== null; }).sort(newestFirst); }
  // Merges `docs` (newest first) into the ids `ordered` (newest first too)
  // until every doc is placed or n are out; ids without a name are left
  // out. Gives the merged docs and where in `ordered` the merging stopped,
  // so that names past it need not be read.
  function mergeNewest(ordered, docs, n) {
    var out = [], i = 0, j = 0;
    while (j < docs.length && out.length < n) {
      var d = i < ordered.length ? docOf(ordered[i]) : null;
      if (i < ordered.length && d === null) i++;
      else if (d === null || newestFirst(docs[j], d) < 0) out.push(docs[j++]);
      else { out.push(d); i++; }
    }
    return { docs: out, next: i };
  }
  // Ids of the generation and its segments (ascending) newest first, so the
  // first page needs only the newest candidates' texts. The generation's
  // ids follow its logs' names: reversed, they are in that order. A
  // segment's follow the order of storing: those are sorted by name and
  // merged in, reading the names of the generation's only as far as the
  // merging goes (a query may have tens of thousands of candidates).
  function newestOrder(ids) {
    var end = state.segs.length > 0 ? state.segs[0].first : state.docs, split = ids.length;
    while (split > 0 && ids[split - 1] >= end) split--;
    var base = ids.slice(0, split).reverse();
    var merged = mergeNewest(base, sortedDocs(ids.slice(split)), Infinity);
    return merged.docs.map(function (d) { return d.id; }).concat(base.slice(merged.next));
  }
  // A query's matches as far as they are known. The generation's candidates
  // are checked newest first (its ids follow its logs' names) a few text
  // files at a time (no more than hold as many candidates as matches are
  // still wanted), so the first page needs only the newest candidates'
  // texts; the rest are checked afterwards for the total.
  function prepare(query) {
    var ws = words(query);
    var lists = ready;
    return located.then(function () {
      if (!state) return null;
      var q = { words: ws, cands: [], pos: 0, main: [], tail: [] };
      if (ws.length === 0) return lists.then(function () { return q; });
      var keys = [], verify = false;
      ws.forEach(function (w) { if (w.length > 2) verify = true; keysOf(w).forEach(function (k) { keys.push(k); }); });
      var files = [lists];
      keys.forEach(function (k) { shardFiles(k).forEach(function (f) { files.push(load(f[0], true)); }); });
      state.tail.forEach(function (t) { files.push(load(folder() + "x" + t[0] + ".js")); });
      return Promise.all(files).then(function () {
        var candidates = null;
        keys.forEach(function (k) {
          var ids = [];
          shardFiles(k).forEach(function (f) {
            var map = shards[f[1]];
            if (map && map.has(k)) ids = ids.concat(decode(map.get(k)));
          });
          candidates = candidates === null ? ids : intersect(candidates, ids);
        });
        candidates = newestOrder(candidates.filter(function (id) { return id < state.docs && !state.gone[id] && listed(id); }));
        if (verify) q.cands = candidates; else { q.main = candidates; }
        q.pos = 0;
        state.tail.forEach(function (t) { if (holds(t[0], ws)) q.tail.push(t[0]); });
        return q;
      });
    });
  }
  var CHUNKS_PER_STEP = 8, RETRY_MS = 3000;
  function ensure(q, n) {
    if (q.main.length >= n || q.pos >= q.cands.length) return Promise.resolve(q);
    var need = [], end = q.pos, wanted = n - q.main.length;
    while (end < q.cands.length) {
      var c = Math.floor(q.cands[end] / state.chunk);
      if (need.indexOf(c) < 0) {
        if (need.length >= CHUNKS_PER_STEP || end - q.pos >= wanted) break;
        need.push(c);
      }
      end++;
    }
    return Promise.all(need.filter(function (c) { return !chunks[c]; })
                           .map(function (c) { return load(folder() + "t" + c + ".js", true); })).then(function () {
      for (; q.pos < end; q.pos++) if (holds(q.cands[q.pos], q.words)) q.main.push(q.cands[q.pos]);
      return ensure(q, n);
    });
  }
  function complete(q) { return q.pos >= q.cands.length; }
  // The first n of a query's known matches, newest first: the tail's
  // merged into the generation's, which are in that order already.
  function docsOf(q, n) {
    var merged = mergeNewest(q.main, sortedDocs(q.tail), n), out = merged.docs;
    for (var i = merged.next; i < q.main.length && out.length < n; i++) {
      var d = docOf(q.main[i]);
      if (d !== null) out.push(d);
    }
    return out;
  }
  function countOf(q) { return q.tail.length + q.main.length; }
  // The original text with the folded positions of its characters, so that
  // matches found in the folded text can be marked in the text as written.
  // A character fold leaves as it is (ASCII but capitals, kana, the common
  // ideographs): most of a Japanese text, folded without normalize().
  function foldsToItself(c) {
    return (c < 0x80 && (c < 0x41 || c > 0x5A)) || (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) ||
           (c >= 0x4E00 && c <= 0x9FFF);
  }
  function foldMap(text, wanted) {
    var f = "", starts = [], ends = [], i = 0;
    while (i < text.length && f.length < wanted) {
      var c = text.charCodeAt(i), n = text.codePointAt(i) > 0xFFFF ? 2 : 1;
      var piece = foldsToItself(c) ? text.charAt(i) : fold(text.substr(i, n));
      for (var k = 0; k < piece.length; k++) { starts.push(i); ends.push(i + n); }
      f += piece; i += n;
    }
    return { folded: f, starts: starts, ends: ends, scanned: i };
  }
  function marked(text, ws, from, to) {
    // Appends text[from, to) to a fragment with every word marked.
    var map = foldMap(text, Infinity), frag = document.createDocumentFragment();
    var whole = fold(text), usable = map.folded === whole;
    var src = usable ? text : whole;
    if (!usable) { from = Math.min(from, whole.length); to = Math.min(to, whole.length); }
    var marks = [];
    ws.forEach(function (w) {
      var at = map.folded.indexOf(w);
      if (!usable) at = whole.indexOf(w);
      while (at >= 0) {
        var s = usable ? map.starts[at] : at, e = usable ? map.ends[at + w.length - 1] : at + w.length;
        marks.push([s, e]);
        at = (usable ? map.folded : whole).indexOf(w, at + 1);
      }
    });
    marks.sort(function (a, b) { return a[0] - b[0]; });
    var pos = from;
    marks.forEach(function (m) {
      var s = Math.max(m[0], pos), e = Math.min(m[1], to);
      if (e <= s) return;
      frag.appendChild(document.createTextNode(src.substring(pos, s)));
      var mark = document.createElement("mark");
      mark.textContent = src.substring(s, e);
      frag.appendChild(mark);
      pos = e;
    });
    if (pos < to) frag.appendChild(document.createTextNode(src.substring(pos, to)));
    return frag;
  }
  function snippet(text, ws) {
    // The body after the subject line, around the first match.
    var body = text.substr(text.indexOf("\n") + 1);
    var f = fold(body), first = -1;
    ws.forEach(function (w) { var at = f.indexOf(w); if (at >= 0 && (first < 0 || at < first)) first = at; });
    var map = foldMap(body, first < 0 ? 0 : first + 1);
    var at = first < 0 || map.folded !== f.substr(0, map.folded.length) ? 0 : map.starts[first] || 0;
    var from = Math.max(0, at - 40), to = Math.min(body.length, at + 120);
    var piece = body.substring(from, to).replace(/\s+/g, " ");
    var frag = document.createDocumentFragment();
    if (from > 0) frag.appendChild(document.createTextNode("…"));
    frag.appendChild(marked(piece, ws, 0, piece.length));
    if (to < body.length) frag.appendChild(document.createTextNode("…"));
    return frag;
  }
  function pageUrl(doc) {
    return "../LKset/" + encodeURIComponent(state.lists[doc.list] || "") + "/web/" + encodeURIComponent(doc.name) + ".htm";
  }
  function dateOf(name) {
    var m = /^(\d{4})(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)/.exec(name);
    return m ? m[1] + "/" + m[2] + "/" + m[3] + " " + m[4] + ":" + m[5] + ":" + m[6] : name;
  }
  var current = null, offset = 0;
  var hitsBox = document.getElementById("hits"), status = document.getElementById("status");
  function statusText(q, end) {
    var count = countOf(q);
    if (count === 0) return complete(q) ? "見つかりませんでした。" : "検索しています…";
    var total = complete(q) ? count + " 件中 " : count + " 件以上（数えています）中 ";
    return total + (offset + 1) + "〜" + end + " 件目";
  }
  function show() {
    var q = current;
    return ensure(q, offset + PAGE_HITS).then(function () {
      var docs = docsOf(q, offset + PAGE_HITS), end = docs.length, need = [];
      for (var i = offset; i < end; i++) {
        var c = Math.floor(docs[i].id / state.chunk);
        if (docs[i].id < state.docs && !chunks[c] && need.indexOf(c) < 0) need.push(c);
      }
      return Promise.all(need.map(function (c) { return load(folder() + "t" + c + ".js", true); })).then(function () {
        if (q !== current) return;
        hitsBox.textContent = "";
        for (var i = offset; i < end; i++) {
          var doc = docs[i], li = document.createElement("li"), a = document.createElement("a");
          var subject = subjectOf(doc) || "(件名なし)";
          a.href = pageUrl(doc);
          a.appendChild(marked(subject, q.words, 0, subject.length));
          var info = document.createElement("div");
          info.className = "meta";
          info.textContent = (state.lists[doc.list] || "") + "　" + dateOf(doc.name);
          var snip = document.createElement("div");
          snip.className = "snippet";
          snip.appendChild(snippet(textOf(doc.id) || "", q.words));
          li.appendChild(a); li.appendChild(info); li.appendChild(snip);
          hitsBox.appendChild(li);
        }
        status.textContent = statusText(q, end);
        document.getElementById("pager").hidden = complete(q) && countOf(q) <= PAGE_HITS;
        document.getElementById("prev").disabled = offset === 0;
        document.getElementById("next").disabled = complete(q) && end >= countOf(q);
        document.body.setAttribute("data-shown", String(Date.now()));
        // The rest is checked afterwards, for the total.
        if (!complete(q)) {
          ensure(q, Infinity).then(function () {
            if (q === current) status.textContent = statusText(q, end);
            document.getElementById("next").disabled = end >= countOf(q);
            document.getElementById("pager").hidden = countOf(q) <= PAGE_HITS;
          });
        }
      });
    });
  }
  function run(query) {
    document.body.removeAttribute("data-shown");
    // The index is deflated: a browser that cannot inflate cannot search.
    if (typeof DecompressionStream === "undefined") {
      status.textContent = "このブラウザーでは検索できません。新しい版の Chrome・Edge・Firefox で開いてください。";
      document.body.setAttribute("data-shown", String(Date.now()));
      return Promise.resolve();
    }
    status.textContent = "検索しています…";
    return prepare(query).then(function (q) {
      if (q === null) {
        // Larkspur may be building the index now: it is looked for again.
        status.textContent = "索引がありません（作成中です。しばらくお待ちください）。";
        document.body.setAttribute("data-shown", String(Date.now()));
        setTimeout(function () {
          if (current !== null) return;
          ready = start();
          run(query);
        }, RETRY_MS);
        return;
      }
      current = q;
      offset = 0;
      return show();
    });
  }
  document.getElementById("form").addEventListener("submit", function (e) {
    e.preventDefault();
    var q = document.getElementById("q").value;
    history.replaceState(null, "", "#q=" + encodeURIComponent(q));
    run(q);
  });
  document.getElementById("prev").addEventListener("click", function () { offset = Math.max(0, offset - PAGE_HITS); show(); });
  document.getElementById("next").addEventListener("click", function () { offset += PAGE_HITS; show(); });
  // Every match of a query, newest first, as "list<TAB>name": for tests.
  window.larkspurSearchAll = function (query) {
    return prepare(query).then(function (q) {
      if (q === null) return null;
      return ensure(q, Infinity).then(function () {
        return docsOf(q, Infinity).map(function (d) { return state.lists[d.list] + "\t" + d.name; });
      });
    });
  };
  // For a link with a query: "#q=WORDS" runs it at once.
  var hash = /^#q=(.*)$/.exec(location.hash);
  if (hash) {
    var q = decodeURIComponent(hash[1]);
    document.getElementById("q").value = q;
    run(q);
  }
})();
</script>
</body>
</html>
)PAGE";
}

}  // namespace larkspur
