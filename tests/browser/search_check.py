#!/usr/bin/env python3
"""Opens the search page of an archive from file:// in headless Chromium, and in
headless Firefox where firefox-esr is installed, and checks it.

Usage: search_check.py ARCHIVE_FOLDER OUTPUT_FOLDER LARKSPUR_CLI

ARCHIVE_FOLDER holds an archive with its search index and queries.tsv (query,
then the brute-force answer "list/name|..."), as larkspur_search_sample
writes them. For every query the page's whole result set and the tool's must
equal the brute-force answer. Then a query is shown (words highlighted,
screenshot into OUTPUT_FOLDER), and a message full of markup and script must
show as text and run nothing. Firefox's screenshots go to OUTPUT_FOLDER/firefox.
Exit code 0 when every check holds.
"""
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_archive import FAILURES, check, file_url, run_checks  # noqa: E402
from firefox import FIREFOX, FirefoxPage  # noqa: E402


def check_search(page, archive, output, cli, queries, browser="page", tool=True):
    """The queries against the brute-force answer (page and, when `tool`, the
    tool), then a highlighted query and a hostile message, with screenshots."""
    url = file_url(os.path.join(archive, "search", "index.htm"))
    page.open(url)
    page_wrong = tool_wrong = order_wrong = 0
    for query, expected in queries:
        in_order = [g.replace("\t", "/") for g in (page.evaluate("larkspurSearchAll(%s)" % json.dumps(query)) or [])]
        got = set(in_order)
        if got != expected:
            page_wrong += 1
            if page_wrong <= 3:
                print(f"{browser}: {query!r}: {len(got)} found, {len(expected)} expected")
        if not tool:
            continue
        lines = subprocess.run([cli, "-C", archive, "search", "--", *query.split(" ")],
                               capture_output=True, text=True).stdout.splitlines()
        tool_order = [f"{f[0]}/{f[2].rsplit(chr(92), 1)[-1][:-4]}" for f in (l.split("\t") for l in lines)]
        if tool_order != in_order:
            order_wrong += 1
        if set(tool_order) != expected:
            tool_wrong += 1
            if tool_wrong <= 3:
                print(f"tool: {query!r}: {len(tool_order)} found, {len(expected)} expected")
    check(page_wrong == 0, f"{browser}: {len(queries)} queries equal a brute-force scan ({page_wrong} differ)")
    if tool:
        check(tool_wrong == 0, f"tool: {len(queries)} queries equal a brute-force scan ({tool_wrong} differ)")
        check(order_wrong == 0, f"{browser} and tool list the matches in one order, newest first ({order_wrong} differ)")

    page.open("about:blank")  # a change of the hash alone fires no load event
    page.open(url + "#q=" + "%E6%A0%AA%E4%BE%A1%E3%80%80%EF%BD%B6%EF%BE%80%EF%BD%B6%EF%BE%85")  # 株価　ｶﾀｶﾅ
    page.wait_for(lambda: page.evaluate("document.body.hasAttribute('data-shown')"))
    marks = page.evaluate("[...document.querySelectorAll('#hits mark')].map(m => m.textContent)")
    check(len(page.evaluate("[...document.querySelectorAll('#hits li')]")) == 20, "the first page shows 20 results")
    check(any(m == "株価" for m in marks) and any(m in ("カタカナ", "ｶﾀｶﾅ") for m in marks),
          "both words are highlighted, in the text as written")
    # The rest is counted after the first page is shown.
    check(page.wait_for(lambda: "件中" in page.evaluate("document.getElementById('status').textContent")),
          "the total is shown")
    subjects = page.evaluate("[...document.querySelectorAll('#hits li a')].map(a => a.textContent)")
    lines = subprocess.run([cli, "-C", archive, "search", "--limit", "20", "--", "株価", "ｶﾀｶﾅ"],
                           capture_output=True, text=True).stdout.splitlines()
    check(subjects == [line.split("\t")[3] or "(件名なし)" for line in lines], "the subjects shown are the tool's")
    first = page.evaluate("document.querySelector('#hits li a').getAttribute('href')")
    check(first.startswith("../LKset/") and first.endswith(".htm"), "a result links to its message page")
    page.screenshot(os.path.join(output, "search.png"), 1000, 900)

    page.open("about:blank")
    page.open(url + "#q=%E5%8D%B1%E9%99%BA")  # 危険
    page.wait_for(lambda: page.evaluate("document.body.hasAttribute('data-shown')"))
    shown = page.evaluate("document.getElementById('hits').textContent")
    check("<img src=x" in shown and "<script>" in shown, "markup from mail shows as text")
    check(page.evaluate("typeof window.pwned") == "undefined"
          and page.evaluate("document.querySelectorAll('#hits img, #hits script, #hits b').length") == 0,
          "no result runs script or adds elements")
    page.screenshot(os.path.join(output, "search-hostile.png"), 1000, 500)

    # A browser that cannot inflate says so rather than find nothing.
    page.open("about:blank")
    page.open(url)
    page.evaluate("delete window.DecompressionStream; document.getElementById('q').value = 'x';"
                  " document.getElementById('form').requestSubmit(); 0")
    page.wait_for(lambda: page.evaluate("document.body.hasAttribute('data-shown')"))
    check("このブラウザーでは検索できません" in page.evaluate("document.getElementById('status').textContent"),
          "a browser without DecompressionStream is told so")

    # An index of another layout (an older Larkspur's), or a state.js that
    # does not start with its state (damaged), is read as none.
    state_path = os.path.join(archive, "search", "state.js")
    state = open(state_path, "rb").read()
    head = state.index(b");")
    for what, damaged in (("an index of an older layout", state[:head - 1] + b"4" + state[head:]),
                          ("a state.js without its first line", state[state.index(b"\n") + 1:])):
        open(state_path, "wb").write(damaged)
        try:
            page.open("about:blank")
            page.open(url + "#q=%E5%8D%B1%E9%99%BA")
            page.wait_for(lambda: page.evaluate("document.body.hasAttribute('data-shown')"))
            check("索引がありません" in page.evaluate("document.getElementById('status').textContent"),
                  f"{what} is taken for none")
        finally:
            open(state_path, "wb").write(state)

def main():
    archive, output, cli = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(output, exist_ok=True)
    queries = []
    with open(os.path.join(archive, "queries.tsv"), encoding="utf-8") as tsv:
        for line in tsv:
            query, expected = line.rstrip("\n").split("\t")
            queries.append((query, set(e for e in expected.split("|") if e)))
    page_source = open(os.path.join(archive, "search", "index.htm"), encoding="utf-8").read()
    check("fetch(" not in page_source and "XMLHttpRequest" not in page_source,
          "the page loads its index through script elements only")

    run_checks(lambda page: check_search(page, archive, output, cli, queries))
    if FIREFOX is None:
        print("firefox-esr is not installed: the page was checked in Chromium alone")
    else:
        firefox_output = os.path.join(output, "firefox")
        os.makedirs(firefox_output, exist_ok=True)
        with tempfile.TemporaryDirectory() as profile:
            page = None
            try:
                page = FirefoxPage(profile)
                check_search(page, archive, firefox_output, cli, queries, browser="firefox", tool=False)
            except Exception as error:  # a browser that hangs or breaks fails the check
                check(False, f"Firefox session: {error}")
            finally:
                if page is not None:
                    page.close()
        print(f"{len(FAILURES)} failure(s) in both browsers")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
