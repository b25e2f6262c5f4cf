# SPDX-License-Identifier: GPL-2.0-or-later
"""Migration into a running DokuWiki through its XML-RPC API, end to end.

Usage: test_wiki_dokuwiki.py TAMSEL_CLI

Starts Debian's DokuWiki (wiki_server.py) and pushes the site of
test_site_dokuwiki.py into it; reads every page and media file back through
the API and checks the links of the rendered pages. Then: a second run
changes nothing, a page edited in the wiki is kept without --force and
replaced with it, a wrong password and a user outside 'remoteuser' are
refused before anything is written, --dry-run writes nothing, a wiki with
the API off says so, and a connection dropped in the middle of a run gives
a report and exit 1 with every page either whole or absent.
"""
import hashlib
import os
import pty
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import xmlrpc.client

import dokuwiki
import site_links
import test_site_dokuwiki as site
import wiki_server
from checks import check, report, run_parts  # noqa: E402

CLI = sys.argv[1]


def run(args, password=wiki_server.PASSWORD, timeout=120):
    env = dict(os.environ)
    env.pop("TAMSEL_WIKI_PASSWORD", None)
    if password is not None:
        env["TAMSEL_WIKI_PASSWORD"] = password
    return subprocess.run([CLI] + args, capture_output=True, text=True, env=env,
                          stdin=subprocess.DEVNULL, timeout=timeout)


def on_terminal(args, answer):
    """Runs the tool on a pseudo terminal without the password variable, types
    answer when asked, and returns what the terminal showed."""
    env = dict(os.environ)
    env.pop("TAMSEL_WIKI_PASSWORD", None)
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(CLI, [CLI] + args, env)
    shown = b""
    deadline = time.time() + 60
    answered = False
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 1)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the tool has ended
            break
        if not chunk:
            break
        shown += chunk
        if not answered and b"Password for" in shown:
            os.write(fd, answer.encode() + b"\n")
            answered = True
    os.waitpid(pid, 0)
    os.close(fd)
    return shown.decode("utf-8", "replace")


def file_migration(src, out, extra=()):
    """The pages the file migration writes: {page id: text}."""
    pages = os.path.join(out, "pages")
    result = run(["--site", src, "--out", pages, "--media", os.path.join(out, "media")]
                 + list(extra))
    assert result.returncode == 0, result.stderr
    texts = {}
    for d, _, names in os.walk(pages):
        for name in names:
            rel = os.path.relpath(os.path.join(d, name), pages)[:-len(".txt")]
            with open(os.path.join(d, name), encoding="utf-8") as f:
                texts[rel.replace("/", ":")] = f.read()
    return texts


def exists(api, page):
    """Whether the page exists: 2022 and older answer an empty struct for a
    missing page, later releases a fault."""
    try:
        return "name" in api.wiki.getPageInfo(page)
    except xmlrpc.client.Fault as fault:
        if fault.faultCode == 121:
            return False
        raise


def author(api, page):
    if wiki_server.core_api():  # the legacy call of current releases leaves it out
        return api.core.getPageInfo(page, 0, True)["author"]
    return api.wiki.getPageInfo(page)["author"]


def attachment(api, media):
    """The bytes of a media file, or what the wiki answered instead."""
    answer = api.wiki.getAttachment(media)
    return answer.data if isinstance(answer, xmlrpc.client.Binary) else answer


class Folders:
    """What site_links.follow needs of a wiki: its media folder."""
    def __init__(self, wiki):
        self.media = os.path.join(wiki.data, "media")


def follow_links(wiki, api, pages):
    """Renders every page through the API and follows its links, fragments and media."""
    return site_links.follow(Folders(wiki), {p: api.wiki.getPageHTML(p) for p in pages})


def test_site(wiki, work):
    src = os.path.join(work, "site")
    site.build_site(src)
    # The site of the file migration's test, with colliding names, a folder's
    # index, fragments between pages and a linked PDF, under a namespace.
    where = ["--namespace", "Old Site", "--start-page", "Home"]
    expected = file_migration(src, os.path.join(work, "files"), where)
    check(len(expected) == 7 and "old_site:home" in expected and "old_site:docs:home" in expected
          and "old_site:faq_2" in expected, "file migration: %s" % sorted(expected))
    push = ["--site", src, "--wiki", wiki.url, "--user", "tester", "--jobs", "2"] + where

    dry = run(push + ["--dry-run"])
    check(dry.returncode == 0 and "create page :old_site:docs:sub:deep_dive" in dry.stdout
          and "create media :old_site:images:logo_big.png" in dry.stdout
          and "create media :old_site:files:manual.pdf" in dry.stdout,
          "dry run: %d %s %s" % (dry.returncode, dry.stdout, dry.stderr))
    check(wiki.page_files() == [], "dry run wrote %s" % wiki.page_files())

    wrong = run(push, password="wrong")
    check(wrong.returncode == 1 and "wrong user name or password" in wrong.stderr
          and "wrong" not in wrong.stderr.replace("wrong user name", "")
          and len(wrong.stderr.strip().splitlines()) == 1,
          "wrong password: %d %s" % (wrong.returncode, wrong.stderr))
    outsider = run(["--site", src, "--wiki", wiki.url, "--user", "outsider"])
    check(outsider.returncode == 1 and "'remoteuser'" in outsider.stderr,
          "user outside remoteuser: %d %s" % (outsider.returncode, outsider.stderr))
    nopassword = run(push, password=None)
    check(nopassword.returncode == 1 and "TAMSEL_WIKI_PASSWORD" in nopassword.stderr,
          "no password: %s" % nopassword.stderr)
    # May edit but not upload: told so before the first page is sent.
    writer = run(["--site", src, "--wiki", wiki.url, "--user", "writer"] + where)
    check(writer.returncode == 1
          and "user 'writer' may not upload media files into namespace :old_site:"
          in writer.stderr and "nothing was written" in writer.stderr,
          "writer without upload: %d %s" % (writer.returncode, writer.stderr))
    check(wiki.page_files() == [], "refused runs wrote %s" % wiki.page_files())

    first = run(push)
    check(first.returncode == 0 and "7 pages written (0 unchanged), 1 renamed" in first.stderr
          and "2 media files uploaded (0 unchanged)" in first.stderr
          and "FAQ.html: page id 'old_site:faq' belongs to faq.html" in first.stderr,
          "push: %d %s" % (first.returncode, first.stderr))

    api = wiki.client("tester")
    for page, text in expected.items():
        check(api.wiki.getPage(page) == text, "%s: read back differs" % page)
    for media, data in (("old_site:images:logo_big.png", site.PNG),
                        ("old_site:files:manual.pdf", site.PDF)):
        got = attachment(api, media)
        check(got == data, "%s differs: %r; the run said %s" % (media, got[:80], first.stderr))
    start = api.wiki.getPage("old_site:home")
    for link in ("[[:old_site:docs:home|Docs]]", "[[:old_site:faq_2|Big FAQ]]",
                 "[[:old_site:docs:sub:deep_dive#part_two|Part two]]",
                 "{{:old_site:files:manual.pdf|The manual}}"):
        check(link in start, "start page lacks %s:\n%s" % (link, start))
    figures, bad = follow_links(wiki, api, expected)
    check(figures["links"] >= 15 and figures["links_ok"] == figures["links"] - 1
          and bad.count("old_site:home: link to missing page old_site:missing") == 1,
          "links: %s %s" % (figures, bad))
    check(figures["fragments"] >= 7 and figures["fragments_ok"] == figures["fragments"],
          "fragments: %s %s" % (figures, bad))
    check(figures["media"] >= 5 and figures["media_ok"] == figures["media"],
          "media: %s %s" % (figures, bad))
    summaries = {page: api.wiki.getPageInfo(page)["version"] for page in expected}
    check(all(author(api, p) == "tester" for p in expected), "author")
    versions = {page: len(api.wiki.getPageVersions(page, 0)) for page in expected}
    media_time = str(api.wiki.getAttachmentInfo("old_site:images:logo_big.png")["lastModified"])

    again = run(push)
    check(again.returncode == 0 and "(7 unchanged)" in again.stderr
          and "2 media files uploaded (2 unchanged)" in again.stderr,
          "second run: %d %s" % (again.returncode, again.stderr))
    check({page: api.wiki.getPageInfo(page)["version"] for page in expected} == summaries
          and {page: len(api.wiki.getPageVersions(page, 0)) for page in expected} == versions,
          "second run made new revisions")
    check(str(api.wiki.getAttachmentInfo("old_site:images:logo_big.png")["lastModified"])
          == media_time, "second run uploaded the image again")

    edited = "Edited in the wiki\n"
    api.wiki.putPage("old_site:about_us", edited, {"sum": "by hand", "minor": False})
    kept = run(push)
    check(kept.returncode == 1
          and "page :old_site:about_us exists with other content" in kept.stderr
          and "6 pages written (6 unchanged)" in kept.stderr and "1 files failed" in kept.stderr,
          "conflict: %d %s" % (kept.returncode, kept.stderr))
    check(api.wiki.getPage("old_site:about_us") == edited,
          "conflicting page overwritten without --force")
    forced = run(push + ["--force", "--summary", "Second import"])
    check(forced.returncode == 0 and "7 pages written (6 unchanged)" in forced.stderr,
          "--force: %d %s" % (forced.returncode, forced.stderr))
    check(api.wiki.getPage("old_site:about_us") == expected["old_site:about_us"],
          "--force did not replace")
    # An image changed in the wiki: kept without --force, replaced with it.
    logo = "old_site:images:logo_big.png"
    api.wiki.putAttachment(logo, xmlrpc.client.Binary(site.PNG + b"changed"), {"ow": True})
    media_kept = run(push)
    check(media_kept.returncode == 1
          and "media :old_site:images:logo_big.png exists with other content" in media_kept.stderr,
          "changed image: %d %s" % (media_kept.returncode, media_kept.stderr))
    media_forced = run(push + ["--force"])
    check(media_forced.returncode == 0 and attachment(api, logo) == site.PNG,
          "changed image with --force: %d %s" % (media_forced.returncode, media_forced.stderr))
    check(api.wiki.getPageVersions("old_site:about_us", 0)[0].get("sum") == "Second import"
          if api.wiki.getPageVersions("old_site:about_us", 0) else False,
          "summary not recorded")


def test_one_document(wiki, work):
    page = os.path.join(work, "one.html")
    with open(page, "w") as f:
        f.write("<h2>Notes</h2><p>One <b>page</b>.</p>")
    base = [page, "--wiki", wiki.url, "--user", "tester"]
    first = run(base + ["--page", "Notes:One Page"])
    check(first.returncode == 0 and "wrote page :notes:one_page" in first.stderr,
          "one document: %d %s" % (first.returncode, first.stderr))
    api = wiki.client("tester")
    check(api.wiki.getPage("notes:one_page") == "===== Notes =====\n\nOne **page**.\n",
          "one document text: %r" % api.wiki.getPage("notes:one_page"))
    under = run(base + ["--page", "One", "--namespace", "Notes:Sub"])
    check(under.returncode == 0 and "wrote page :notes:sub:one" in under.stderr,
          "--page under --namespace: %d %s" % (under.returncode, under.stderr))
    again = run(base + ["--page", "notes:one_page"])
    check(again.returncode == 0 and "unchanged" in again.stderr, "again: %s" % again.stderr)
    acl = run(base + ["--page", "locked:x"])
    check(acl.returncode == 1 and "may not edit" in acl.stderr, "ACL: %s" % acl.stderr)
    # Someone else editing the page holds its lock: a file naming them.
    lock = os.path.join(wiki.data, "locks", hashlib.md5(b"notes:busy").hexdigest() + ".lock")
    with open(lock, "w") as f:
        f.write("someone")
    busy = run(base + ["--page", "notes:busy"])
    check(busy.returncode == 1 and "locked: someone is editing it" in busy.stderr,
          "lock: %s" % busy.stderr)
    check(not exists(api, "notes:busy"), "locked page written")
    os.unlink(lock)

    # An overloaded server: the first login and the first write answered with 503.
    proxy = wiki_server.CuttingProxy(wiki.port, unavailable={1, 5})
    try:
        retried = run([page, "--wiki", proxy.url, "--user", "tester", "--page", "notes:retried"])
    finally:
        proxy.close()
    check(retried.returncode == 0 and proxy.count == 7 and exists(api, "notes:retried"),
          "503 retried: %d %d %s" % (retried.returncode, proxy.count, retried.stderr))

    # Asked for on a terminal, the password is not echoed.
    prompted = on_terminal(base + ["--page", "notes:prompted"], wiki_server.PASSWORD)
    check("Password for tester:" in prompted and wiki_server.PASSWORD not in prompted
          and "wrote page :notes:prompted" in prompted, "prompt: %r" % prompted)
    with open(page, "w") as f:
        f.write("<p> </p>")
    empty = run(base + ["--page", "notes:one_page", "--force"])
    check(empty.returncode == 1 and "empty page" in empty.stderr, "empty: %s" % empty.stderr)
    check(exists(api, "notes:one_page"), "an empty conversion deleted the page")


def test_api_off(work):
    off = wiki_server.WikiServer(remote=False, workers=1)
    try:
        page = os.path.join(work, "one.html")
        result = run([page, "--wiki", off.url, "--user", "tester", "--page", "x"])
        check(result.returncode == 1 and "remote API is switched off" in result.stderr,
              "API off: %d %s" % (result.returncode, result.stderr))
    finally:
        off.close()
    # A server that takes the request and never answers.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        start = time.time()
        hung = run([page, "--wiki", "http://127.0.0.1:%d/" % silent.getsockname()[1], "--user",
                    "tester", "--page", "x", "--timeout", "1"])
        seconds = time.time() - start
    check(hung.returncode == 1 and "stalled for 1 s" in hung.stderr and seconds < 30,
          "hung server: %d %.0f s %s" % (hung.returncode, seconds, hung.stderr))
    nowiki = run([page, "--wiki", "http://127.0.0.1:%d/" % wiki_server.free_port(), "--user",
                  "tester", "--page", "x"])
    check(nowiki.returncode == 1 and "cannot reach the wiki" in nowiki.stderr,
          "no server: %d %s" % (nowiki.returncode, nowiki.stderr))


def test_no_media_revisions(work):
    """A wiki that keeps no old media files: replacing one takes Delete, which
    a user with Upload alone lacks; the message says so."""
    acl = "*\t@ALL\t0\n*\t@user\t8\n"
    wiki = wiki_server.WikiServer(workers=2, acl=acl, settings={"mediarevisions": "0"})
    try:
        src = os.path.join(work, "site")
        push = ["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace", "nr"]
        first = run(push)
        check(first.returncode == 0, "upload-only user: %d %s" % (first.returncode, first.stderr))
        logo = os.path.join(wiki.data, "media", "nr", "images", "logo_big.png")
        with open(logo, "wb") as f:  # changed on the server
            f.write(site.PNG + b"changed")
        forced = run(push + ["--force"])
        check(forced.returncode == 1
              and "user 'tester' may not replace media files in namespace :nr:images:"
              in forced.stderr and "delete" in forced.stderr
              and "warning: user 'tester' may not delete media files in namespace :nr:images:"
              in forced.stderr,
              "replace without delete: %d %s" % (forced.returncode, forced.stderr))
        with open(logo, "rb") as f:
            check(f.read() == site.PNG + b"changed", "the image was replaced")
    finally:
        wiki.close()


def test_core_only(work):
    """A wiki that has dropped the legacy methods (as DokuWiki's changelog
    announces): the version comes from core.getAPIVersion, and only core.*
    methods are called."""
    from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer

    class Handler(SimpleXMLRPCRequestHandler):
        rpc_paths = ("/lib/exe/xmlrpc.php",)

    called = []
    pages = {}

    def dispatch(method, params):
        called.append(method)
        if not method.startswith("core."):
            raise xmlrpc.client.Fault(-32603, "Method does not exist")
        answers = {"core.getAPIVersion": 14, "core.login": True, "core.getWikiVersion": "Future",
                   "core.aclCheck": 255, "core.savePage": True}
        if method == "core.getPageInfo":
            if params[0] not in pages:
                raise xmlrpc.client.Fault(121, "The requested page (revision) does not exist")
            return {"id": params[0], "revision": 1}
        if method == "core.savePage":
            pages[params[0]] = params[1]
        return answers[method]

    server = SimpleXMLRPCServer(("127.0.0.1", 0), Handler, logRequests=False, allow_none=True)
    server.register_instance(type("Api", (), {"_dispatch": lambda self, m, p: dispatch(m, p)})())
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        page = os.path.join(work, "core.html")
        with open(page, "w") as f:
            f.write("<p>Core</p>")
        url = "http://127.0.0.1:%d/lib/exe/xmlrpc.php" % server.server_address[1]
        result = run([page, "--wiki", url, "--user", "tester", "--page", "notes:core"])
    finally:
        server.shutdown()
        server.server_close()
    check(result.returncode == 0 and pages.get("notes:core") == "Core\n"
          and called[:2] == ["dokuwiki.getXMLRPCAPIVersion", "core.getAPIVersion"]
          and all(m.startswith("core.") for m in called[1:]),
          "core-only wiki: %d %s %s" % (result.returncode, result.stderr, called))


def test_dropped_connection(wiki, work):
    src = os.path.join(work, "cut")
    for n in range(6):
        path = os.path.join(src, "part", "page%d.html" % n)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("<h1>Page %d</h1>" % n + "<p>%s</p>" % ("Text of the page. " * 2000))
    expected = file_migration(src, os.path.join(work, "cut-files"))
    # Three requests to connect, then two for each new page; the cut comes
    # in the middle of the third page's text.
    proxy = wiki_server.CuttingProxy(wiki.port, allow=3 + 2 + 2 + 1)
    try:
        start = time.time()
        result = run(["--site", src, "--wiki", proxy.url, "--user", "tester", "--jobs", "1"])
        seconds = time.time() - start
    finally:
        proxy.close()
    check(result.returncode == 1 and "cannot write page :part:page2" in result.stderr
          and "2 pages written" in result.stderr and "4 files failed" in result.stderr,
          "dropped connection: %d %s" % (result.returncode, result.stderr))
    check(seconds < 60, "dropped connection took %.0f s" % seconds)
    api = wiki.client("tester")
    written = [page for page in expected if exists(api, page)]
    check(sorted(written) == ["part:page0", "part:page1"], "pages in the wiki: %s" % written)
    for page in written:
        check(api.wiki.getPage(page) == expected[page], page + ": not whole")


def main():
    if not wiki_server.available():
        print("skipped: " + dokuwiki.skip_reason())
        return 77
    work = tempfile.mkdtemp(prefix="tamsel-wiki-test-")
    wiki = wiki_server.WikiServer()
    try:
        run_parts([lambda: test_site(wiki, work), lambda: test_one_document(wiki, work),
                   lambda: test_api_off(work), lambda: test_no_media_revisions(work),
                   lambda: test_core_only(work), lambda: test_dropped_connection(wiki, work)])
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
