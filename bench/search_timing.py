#!/usr/bin/env python3
"""Times the search page and the tool on an archive with its index.

Usage: search_timing.py ARCHIVE_FOLDER LARKSPUR_CLI
Prints search_first_page_30x1000 (a fresh load of search/index.htm in
headless Chromium from file://, with the query in its address, until the
first page of results is shown, as the page itself measures it from the start
of the navigation) and search_cli_30x1000 (larkspur-cli search QUERY --limit
20, the first page's worth, wall clock), each the median over QUERIES.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "browser"))
from check_archive import Browser, Page, file_url  # noqa: E402

# 1, 2 and 4 Japanese characters, ASCII words, two words, words found nowhere.
QUERIES = ["株", "雨", "日", "円", "人", "東京", "会社", "情報", "時間", "株式会社", "日本経済", "情報処理",
           "自動車税", "iphone", "linux", "windows", "東京 会社", "情報 update", "ゐゑゐゑ", "zzqqxx"]


def main():
    archive, cli = sys.argv[1], sys.argv[2]
    page_ms, cli_ms, counts = [], [], []
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(profile)
        try:
            page = Page(browser)
            url = file_url(os.path.join(archive, "search", "index.htm"))
            for query in QUERIES:
                page.open("about:blank")
                page.open(url + "#q=" + urllib.parse.quote(query))
                page.wait_for(lambda: page.evaluate("document.body.hasAttribute('data-shown')"), timeout=60)
                page_ms.append(page.evaluate("Number(document.body.getAttribute('data-shown')) - performance.timeOrigin"))
                counts.append(page.evaluate("document.getElementById('status').textContent"))
        finally:
            browser.close()
    for query in QUERIES:
        start = time.monotonic()
        subprocess.run([cli, "-C", archive, "search", "--limit", "20", "--", *query.split(" ")],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        cli_ms.append((time.monotonic() - start) * 1000)
    for query, ms, c, count in zip(QUERIES, page_ms, cli_ms, counts):
        print(f"{query}: page {ms:.0f} ms, tool {c:.0f} ms: {count}", file=sys.stderr)
    print(f"search_first_page_30x1000: {statistics.median(page_ms):.0f} ms")
    print(f"search_first_page_30x1000_slowest: {max(page_ms):.0f} ms")
    print(f"search_cli_30x1000: {statistics.median(cli_ms):.0f} ms")
    print(f"search_cli_30x1000_slowest: {max(cli_ms):.0f} ms")


if __name__ == "__main__":
    main()
