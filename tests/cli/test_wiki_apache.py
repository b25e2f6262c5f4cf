# SPDX-License-Identifier: GPL-2.0-or-later
"""Pushes through the web server DokuWiki really runs behind: Apache over HTTPS
with a certificate from a private CA (apache_wiki.py).

Usage: test_wiki_apache.py TAMSEL_CLI [--dokuwiki DIR] [--speed] [SRC_DIR ...]

DIR is the DokuWiki install to serve (default Debian's). Every SRC_DIR that
exists (default: the test site, the valgrind manual and the npm docs as
Debian installs them) is pushed with --cacert and must arrive whole: every
HTML file a page equal to the file migration's, every image it shows with
the same bytes; a rerun changes nothing, a page edited in the wiki is kept
and reported, a wrong password writes nothing. Before that: a wiki whose CA
is not given is refused with the reason and nothing written, --cacert,
CURL_CA_BUNDLE and SSL_CERT_FILE are accepted, a wrong name and an expired
certificate are named as such. Apache's log shows the answers compressed and
one full TLS handshake per worker (not per request: DokuWiki closes the
connection after every answer, the next one resumes the TLS session); a body
over LimitRequestBody gets a message naming it. --speed pushes every SRC_DIR once more with --jobs 1
and --jobs 4 into new namespaces and prints pages per second and the tool's
share of the wall time. Exit 77 when Apache, mod_php, openssl or DokuWiki is
missing.
"""
import os
import resource
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

import apache_wiki
import test_site_dokuwiki as site
import test_wiki_dokuwiki as wikitest
import test_wiki_valgrind as valgrind
import wiki_server
from checks import check, report, run_parts  # noqa: E402


def run(args, env=None, password=wiki_server.PASSWORD, timeout=900):
    """Runs the tool; returns (result, its CPU seconds)."""
    environment = dict(os.environ)
    for name in ("TAMSEL_WIKI_PASSWORD", "SSL_CERT_FILE", "CURL_CA_BUNDLE"):
        environment.pop(name, None)
    environment.update(env or {})
    if password is not None:
        environment["TAMSEL_WIKI_PASSWORD"] = password
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run([wikitest.CLI] + args, capture_output=True, text=True,
                            env=environment, stdin=subprocess.DEVNULL, timeout=timeout)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return result, cpu


def last_line(result):
    return (result.stderr.strip().splitlines() or [""])[-1]


def expired_server(ca_folder):
    """A TLS server on 127.0.0.1 whose certificate (signed by the test CA) has expired."""
    apache_wiki.openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", "old.key", "-out", "old.csr", "-subj", "/CN=old",
                        cwd=ca_folder)
    apache_wiki.openssl("x509", "-req", "-in", "old.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                        "-CAcreateserial", "-out", "old.crt", "-days", "-1", "-extfile",
                        "ext.cnf", cwd=ca_folder)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(ca_folder, "old.crt"), os.path.join(ca_folder, "old.key"))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def serve():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            try:
                with context.wrap_socket(conn, server_side=True):
                    pass
            except (OSError, ssl.SSLError):
                pass

    threading.Thread(target=serve, daemon=True).start()
    return listener


def test_trust(wiki, work):
    page = os.path.join(work, "one.html")
    with open(page, "w") as f:
        f.write("<p>Over <b>HTTPS</b>.</p>")
    base = [page, "--wiki", wiki.url, "--user", "tester", "--page"]

    unknown, _ = run(base + ["tls:unknown"])
    check(unknown.returncode == 1 and "certificate of 127.0.0.1 is not trusted" in unknown.stderr
          and "unknown CA" in unknown.stderr and "--cacert" in unknown.stderr
          and len(unknown.stderr.strip().splitlines()) == 1,
          "unknown CA: %d %s" % (unknown.returncode, unknown.stderr))
    check(wiki.page_files() == [], "unknown CA: written %s" % wiki.page_files())

    for how, args, env in (("--cacert", ["--cacert", wiki.ca], {}),
                           ("CURL_CA_BUNDLE", [], {"CURL_CA_BUNDLE": wiki.ca}),
                           ("SSL_CERT_FILE", [], {"SSL_CERT_FILE": wiki.ca})):
        name = "tls:" + how.strip("-").lower()
        accepted, _ = run(base + [name] + args, env=env)
        check(accepted.returncode == 0 and "wrote page :" + name in accepted.stderr,
              "%s: %d %s" % (how, accepted.returncode, accepted.stderr))

    notpem = os.path.join(work, "not.pem")
    with open(notpem, "w") as f:
        f.write("no certificate here\n")
    for args, expect in ((["--cacert", notpem], "holds no certificate in PEM form"),
                         (["--cacert", os.path.join(work, "absent.pem")], "cannot read")):
        refused, _ = run(base + ["tls:refused"] + args)
        check(refused.returncode == 1 and expect in refused.stderr
              and "not sent" in refused.stderr,
              "%s: %d %s" % (args, refused.returncode, refused.stderr))
    count = len(wiki.requests())
    _ = run(base + ["tls:refused", "--cacert", notpem])
    check(len(wiki.requests()) == count, "a bad --cacert still sent requests")

    wrong = "https://localhost:%d/" % wiki.port
    named, _ = run([page, "--wiki", wrong, "--user", "tester", "--page", "tls:name",
                    "--cacert", wiki.ca])
    check(named.returncode == 1 and "certificate of localhost is not trusted" in named.stderr
          and "issued for another name" in named.stderr,
          "wrong name: %d %s" % (named.returncode, named.stderr))

    listener = expired_server(os.path.dirname(wiki.ca))
    try:
        old = "https://127.0.0.1:%d/" % listener.getsockname()[1]
        expired, _ = run([page, "--wiki", old, "--user", "tester", "--page", "tls:old",
                          "--cacert", wiki.ca])
    finally:
        listener.close()
    check(expired.returncode == 1 and "has expired" in expired.stderr,
          "expired: %d %s" % (expired.returncode, expired.stderr))

    insecure, _ = run(base + ["tls:insecure", "--insecure"])
    check(insecure.returncode == 0 and "--insecure" in insecure.stderr,
          "--insecure: %d %s" % (insecure.returncode, insecure.stderr))


def test_site(wiki, work, src, namespace):
    """The whole-site checks for one source folder; returns the first run's figures."""
    expected = wikitest.file_migration(src, os.path.join(work, namespace + "-files"),
                                       ["--namespace", namespace])
    html_files = sum(1 for _, _, names in os.walk(src) for n in names
                     if n.lower().endswith((".html", ".htm")))
    images = valgrind.shown_images(src, namespace, expected)
    push = ["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace", namespace,
            "--cacert", wiki.ca, "--jobs", "4"]

    written = wiki.page_files()
    wrong, _ = run(push, password="wrong")
    check(wrong.returncode == 1 and "wrong user name or password" in wrong.stderr
          and wiki.page_files() == written,
          "%s: wrong password: %d %s" % (namespace, wrong.returncode, wrong.stderr))

    logged = len(wiki.requests())
    start = time.time()
    first, cpu = run(push)
    seconds = time.time() - start
    requests = wiki.requests()[logged:]
    print("%s: %s" % (namespace, last_line(first)))
    check(first.returncode == 0, "%s: first run: %d %s" % (namespace, first.returncode,
                                                           first.stderr[-3000:]))
    api = wiki.client("tester")
    pages = [p["id"] for p in api.dokuwiki.getPagelist(namespace, {"depth": 0})]
    check(len(pages) == len(expected) and len(expected) >= html_files - 1,
          "%s: %d HTML files, %d pages in the wiki, %d by the file migration"
          % (namespace, html_files, len(pages), len(expected)))
    differ = [p for p in expected if api.wiki.getPage(p) != expected[p]]
    check(not differ, "%s: pages other than the file migration's: %s" % (namespace, differ[:5]))
    missing = [m for m, data in images.items()
               if api.wiki.getAttachmentInfo(m).get("size") != len(data)
               or wikitest.attachment(api, m) != data]
    check(not missing, "%s: images missing or different: %s" % (namespace, missing[:5]))

    # What Apache saw: compressed answers, and one full TLS handshake per
    # worker, not per request. DokuWiki's XML-RPC server ends every answer
    # with "Connection: close", so each request needs a connection of its
    # own; its handshake resumes the worker's TLS session.
    connections = sum(1 for r in requests if r["keepalive"] == "0")
    full = sum(1 for r in requests if r["keepalive"] == "0" and r["resumed"] != "Resumed")
    compressed = sum(1 for r in requests if r["encoding"] == "gzip")
    # Workers that reconnect at the same moment may miss the session another
    # just replaced (more so on a loaded machine): a few more than one each
    # (2 to 7 for 4 workers on a quiet machine), never one per request.
    check(full <= max(10, len(requests) // 4),
          "%s: %d full TLS handshakes for %d requests with --jobs 4"
          % (namespace, full, len(requests)))
    check(compressed >= len(requests) // 2,
          "%s: only %d of %d answers compressed" % (namespace, compressed, len(requests)))
    print("%s: %d pages, %d images, %d requests over %d connections (%d full TLS handshakes, "
          "the others resumed), %d answers gzip, %.1f s (%.1f pages/s), the tool's CPU %.1f s "
          "(%.0f %% of the wall time)"
          % (namespace, len(pages), len(images), len(requests), connections, full, compressed,
             seconds, len(pages) / seconds, cpu, 100 * cpu / seconds))

    before = valgrind.state(api, pages, images)
    again, _ = run(push)
    check(again.returncode == 0 and "(%d unchanged)" % len(pages) in again.stderr,
          "%s: second run: %d %s" % (namespace, again.returncode, again.stderr[-2000:]))
    check(valgrind.state(api, pages, images) == before, "%s: the rerun made new revisions"
          % namespace)

    victim = sorted(pages)[len(pages) // 2]
    edited = "Edited in the wiki\n"
    api.wiki.putPage(victim, edited, {"sum": "by hand", "minor": False})
    kept, _ = run(push)
    check(kept.returncode == 1 and "page :%s exists with other content" % victim in kept.stderr
          and "1 files failed" in kept.stderr,
          "%s: conflict: %d %s" % (namespace, kept.returncode, kept.stderr[-2000:]))
    check(api.wiki.getPage(victim) == edited, "%s: the edited page was overwritten" % namespace)


def test_body_limit(wiki, work):
    """A request over Apache's LimitRequestBody: the message names it."""
    src = os.path.join(work, "big")
    os.makedirs(src)
    with open(os.path.join(src, "index.html"), "w") as f:
        f.write('<p>A large picture: <img src="big.png"></p>')
    with open(os.path.join(src, "big.png"), "wb") as f:
        f.write(site.PNG + os.urandom(wiki.body_limit))
    result, _ = run(["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace",
                     "big", "--cacert", wiki.ca])
    check(result.returncode == 1 and "HTTP 413" in result.stderr
          and "LimitRequestBody" in result.stderr and "media :big:big.png" in result.stderr,
          "413: %d %s" % (result.returncode, result.stderr))
    check(not [m for m in wiki.media_files() if m.startswith("big")], "413: the file arrived")


def measure_speed(wiki, src, name):
    """Pages a second with --jobs 1 and 4, the tool's CPU share and the wiki's
    (the time Apache spent on the run's requests); figures only."""
    for jobs in (1, 4):
        namespace = "speed%d_%s" % (jobs, name)
        logged = len(wiki.requests())
        start = time.time()
        result, cpu = run(["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace",
                           namespace, "--cacert", wiki.ca, "--jobs", str(jobs), "-q"])
        seconds = time.time() - start
        pages = sum(1 for _, _, names in os.walk(src) for n in names
                    if n.lower().endswith((".html", ".htm")))
        requests = wiki.requests()[logged:]
        served = sum(int(r["microseconds"]) for r in requests) / 1e6
        print("speed %s --jobs %d: exit %d, %d pages in %.2f s = %.1f pages/s; the tool's CPU "
              "%.2f s = %.0f %% of the wall time; %d requests, Apache busy %.2f s in all"
              % (name, jobs, result.returncode, pages, seconds, pages / seconds, cpu,
                 100 * cpu / seconds, len(requests), served))


def main():
    args = sys.argv[2:]
    doku_inc = wiki_server.DOKU_INC
    if "--dokuwiki" in args:
        at = args.index("--dokuwiki")
        doku_inc = args[at + 1]
        del args[at:at + 2]
    speed = "--speed" in args
    args = [a for a in args if a != "--speed"]
    if not apache_wiki.available(doku_inc):
        print("apache2, mod_php, mod_ssl, openssl or DokuWiki (%s) missing; skipped"
              % doku_inc)
        return 77
    work = tempfile.mkdtemp(prefix="tamsel-apache-test-")
    sources = [(os.path.join(work, "site"), "site")]
    site.build_site(sources[0][0])
    for src in args or ["/usr/share/doc/valgrind/html", "/usr/lib/node_modules/npm/docs/output"]:
        if os.path.isdir(src):
            name = os.path.basename(src.rstrip("/"))
            name = {"html": "valgrind", "output": "npm"}.get(name, name)
            sources.append((src, name))
    wiki = apache_wiki.ApacheWiki(doku_inc, body_limit=6 << 20)
    try:
        print("DokuWiki %s behind Apache at %s" % (wiki.client("tester").dokuwiki.getVersion(), wiki.url))
        tests = [lambda: test_trust(wiki, work)]
        tests += [lambda s=s, n=n: test_site(wiki, work, s, n) for s, n in sources]
        tests += [lambda: test_body_limit(wiki, work)]
        if speed:
            tests += [lambda s=s, n=n: measure_speed(wiki, s, n) for s, n in sources[1:]]
        run_parts(tests)
        errors = [line for line in wiki.error_log().splitlines()
                  if "PHP Fatal" in line or "segfault" in line.lower()]
        check(not errors, "Apache's error log: %s" % errors[:5])
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
