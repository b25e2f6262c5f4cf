# SPDX-License-Identifier: GPL-2.0-or-later
"""A running DokuWiki for tests, under PHP's built-in server: Debian's package
or the newest release, as dokuwiki.py chooses (TAMSEL_DOKUWIKI).

The server listens on 127.0.0.1 and a free port. Its conf and data folders
are private temporary ones: PHP's auto_prepend_file defines DOKU_CONF before
Debian's inc/preload.php would (preload.php keeps a DOKU_CONF defined
earlier), so local.php, users.auth.php and acl.auth.php come from our folder
while the install's defaults (dokuwiki.php, mime.conf, ...) are copied or
linked into it. Nothing under /etc/dokuwiki or /var/lib/dokuwiki is read for
users or ACLs, or written.

Users (plain auth, password "secret" for each):
  tester    group user   may use the remote API; may upload and delete
  outsider  group guest  may not use the remote API
  writer    group writer may use the remote API; may create and edit pages, not upload
ACL: nobody else may read; namespace "locked" is read-only for @user.
"""
import hashlib
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import xmlrpc.client

import dokuwiki

DOKU_INC = dokuwiki.DOKU_INC
PASSWORD = "secret"
DATA_DIRS = ("pages", "media", "meta", "cache", "index", "locks", "tmp", "attic",
             "media_attic", "media_meta", "log")


def available():
    return dokuwiki.available() and os.path.exists(
        os.path.join(DOKU_INC, "lib", "exe", "xmlrpc.php"))


def core_api():
    """Whether the install speaks the core.* API (DokuWiki 2024-02-06 and later)."""
    return dokuwiki.NAME != "debian"


# Nobody else may read; namespace "locked" is read-only for @user; members of
# @writer may edit but upload nothing.
ACL = ("*\t@ALL\t0\n*\t@user\t16\n*\t@guest\t16\nlocked:*\t@user\t1\n"
       "*\t@writer\t4\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def php_string(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "\\'") + "'"


class WikiServer:
    def __init__(self, remote=True, workers=4, acl=None, settings=None):
        self.root = tempfile.mkdtemp(prefix="tamsel-wiki-")
        self.conf = os.path.join(self.root, "conf")
        self.data = os.path.join(self.root, "data")
        dokuwiki.INSTALL.prepare_conf(self.conf)
        os.makedirs(os.path.join(self.root, "sessions"))
        for d in DATA_DIRS:
            os.makedirs(os.path.join(self.data, d))
        self.prepend = os.path.join(self.root, "prepend.php")
        with open(self.prepend, "w") as f:
            f.write("<?php\ndefine('DOKU_CONF', %s);\n" % php_string(self.conf + "/"))
        self.title = "tamsel-" + os.path.basename(self.root)
        settings_ = {
            "title": php_string(self.title),
            "savedir": php_string(self.data),
            "useacl": "1",
            "authtype": "'authplain'",
            "superuser": "'@admin'",
            "remote": "1" if remote else "0",
            "remoteuser": "'@user,@writer'",
            "lang": "'en'",
            "userewrite": "0",
        }
        settings_ = dict(settings_, **(settings or {}))
        with open(os.path.join(self.conf, "local.php"), "w") as f:
            f.write("<?php\n" + "".join("$conf['%s'] = %s;\n" % kv for kv in settings_.items()))
        digest = hashlib.sha1(PASSWORD.encode()).hexdigest()  # DokuWiki reads bare sha1 hashes
        with open(os.path.join(self.conf, "users.auth.php"), "w") as f:
            f.write("tester:%s:Test User:tester@example.org:user\n" % digest)
            f.write("outsider:%s:Outsider:outsider@example.org:guest\n" % digest)
            f.write("writer:%s:Writer:writer@example.org:writer\n" % digest)
        with open(os.path.join(self.conf, "acl.auth.php"), "w") as f:
            f.write(acl or ACL)
        self.remote = remote
        self.workers = workers
        # Another test may take the free port between our look and php's
        # bind, and would then answer for us: each wiki knows its own title.
        for _ in range(5):
            self.start()
            if self.is_ours():
                return
            self.stop()
        raise RuntimeError("DokuWiki did not start on a port of its own")

    def start(self):
        self.port = free_port()
        self.url = "http://127.0.0.1:%d/" % self.port
        env = dict(os.environ, PHP_CLI_SERVER_WORKERS=str(self.workers))
        self.log = open(os.path.join(self.root, "server.log"), "ab")
        self.process = subprocess.Popen(
            ["php", "-d", "auto_prepend_file=" + self.prepend,
             "-d", "session.save_path=" + os.path.join(self.root, "sessions"),
             "-d", "error_reporting=E_ALL & ~E_DEPRECATED", "-d", "display_errors=0",
             "-S", "127.0.0.1:%d" % self.port, "-t", DOKU_INC],
            stdout=self.log, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        deadline = time.time() + 30
        while True:
            try:
                self.client().dokuwiki.getXMLRPCAPIVersion()
                break
            except xmlrpc.client.Fault:  # an answer too: the API is off
                break
            except (OSError, xmlrpc.client.Error):
                if time.time() > deadline or self.process.poll() is not None:
                    self.stop()
                    raise RuntimeError("DokuWiki did not start")
                time.sleep(0.1)

    def is_ours(self):
        if self.remote:
            proxy = self.client()
            for method in ("dokuwiki.getTitle", "core.getWikiTitle"):
                try:
                    return getattr(proxy, method)() == self.title
                except xmlrpc.client.Fault:
                    continue
        # Without the API: php exits at once when it cannot listen.
        time.sleep(0.3)
        return self.process.poll() is None

    def client(self, user=None, password=PASSWORD, url=None):
        """An XML-RPC proxy that keeps DokuWiki's login cookies; logged in as user."""
        return login(url or self.url, CookieTransport(), user, password)

    def page_files(self):
        return files_below(os.path.join(self.data, "pages"))

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, 15)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, 9)
                self.process.wait()
        self.log.close()

    def close(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)


def login(url, transport, user, password):
    """An XML-RPC proxy of the wiki at url, logged in as user when one is given."""
    proxy = xmlrpc.client.ServerProxy(url + "lib/exe/xmlrpc.php", transport=transport,
                                      allow_none=True)
    if user and not proxy.dokuwiki.login(user, password):
        raise RuntimeError("login failed")
    return proxy


def files_below(root):
    """Every file below root, as paths relative to it, sorted."""
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _, fs in os.walk(root) for f in fs)


class CookieJar:
    """Keeps DokuWiki's session cookie between calls, as a browser would;
    mixed into a transport of xmlrpc.client."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.cookies = {}

    def send_headers(self, connection, headers):
        if self.cookies:
            connection.putheader("Cookie", "; ".join("%s=%s" % kv for kv in self.cookies.items()))
        super().send_headers(connection, headers)

    def parse_response(self, response):
        for header in response.msg.get_all("Set-Cookie") or []:
            name, _, value = header.split(";", 1)[0].partition("=")
            self.cookies[name.strip()] = value
        return super().parse_response(response)


class CookieTransport(CookieJar, xmlrpc.client.Transport):
    pass


class CuttingProxy:
    """Passes the first `allow` HTTP requests to the wiki whole; of every later
    one it sends the headers and half the body, then drops both connections,
    as a server or network failing in the middle of a run would. Requests
    whose number (from 0) is in `unavailable` get a 503 instead, as from an
    overloaded server."""

    def __init__(self, target_port, allow=1 << 30, unavailable=()):
        self.target_port = target_port
        self.allow = allow
        self.unavailable = set(unavailable)
        self.count = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.url = "http://127.0.0.1:%d/" % self.port
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._handle, args=(conn,), daemon=True).start()

    def _handle(self, conn):
        with conn:
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                data += chunk
            head, _, body = data.partition(b"\r\n\r\n")
            length = 0
            for line in head.split(b"\r\n")[1:]:
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value)
            while len(body) < length:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                body += chunk
            with self.lock:
                n = self.count
                self.count += 1
            if n in self.unavailable:
                conn.sendall(b"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                             b"Connection: close\r\n\r\n")
                return
            with socket.create_connection(("127.0.0.1", self.target_port)) as upstream:
                if n >= self.allow:
                    upstream.sendall(head + b"\r\n\r\n" + body[:len(body) // 2])
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return
                upstream.sendall(head + b"\r\n\r\n" + body)
                while True:
                    chunk = upstream.recv(65536)
                    if not chunk:
                        break
                    conn.sendall(chunk)

    def close(self):
        self.listener.close()
