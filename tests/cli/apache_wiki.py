# SPDX-License-Identifier: GPL-2.0-or-later
"""A running DokuWiki behind Apache 2 over HTTPS, as Debian serves it.

A private Apache (`apache2 -f` with a configuration written here: prefork,
mod_php, mod_ssl, mod_deflate compressing the XML answers) listens on
127.0.0.1 and a free port, with a server certificate from a test CA made
with openssl. Its configuration, logs, wiki conf, data and PHP sessions live
in a temporary folder; what Apache's workers write is owned by the user they
run as. Nothing under /etc/apache2, /etc/dokuwiki or /var/lib/dokuwiki is
written. The wiki's users, ACLs and settings are those of wiki_server.py.

The access log records for every request the connection's keep-alive count
(%k: 0 for a connection's first request), whether the TLS session was
resumed, the answer's Content-Encoding and the time Apache took for it, so
that a test can count TLS handshakes and compressed answers and tell the
wiki's share of a run's time.
"""
import grp
import hashlib
import os
import pwd
import shutil
import ssl
import subprocess
import tempfile
import time
import xmlrpc.client

import wiki_server

MODULES = "/usr/lib/apache2/modules"
APACHE = shutil.which("apache2") or "/usr/sbin/apache2"
LOG_FIELDS = ("keepalive", "resumed", "encoding", "status", "microseconds", "request")


def available(doku_inc=wiki_server.DOKU_INC):
    return (os.path.exists(APACHE) and shutil.which("openssl") is not None
            and os.path.exists(os.path.join(MODULES, "mod_ssl.so"))
            and any(n.startswith("libphp") for n in os.listdir(MODULES))
            and os.path.exists(os.path.join(doku_inc, "lib", "exe", "xmlrpc.php"))
            and run_as() is not None)


def run_as():
    """The user Apache's workers run as: Debian's www-data when started as
    root, else the user running the tests."""
    if os.getuid() != 0:
        return pwd.getpwuid(os.getuid())
    for name in ("www-data", "apache", "nobody"):
        try:
            return pwd.getpwnam(name)
        except KeyError:
            pass
    return None


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, capture_output=True)


def make_ca(folder, names=("IP:127.0.0.1",)):
    """A test CA (ca.crt) and a server certificate it signed (server.crt, server.key)."""
    os.makedirs(folder, exist_ok=True)
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2",
            "-subj", "/CN=Tamsel Test CA", cwd=folder)
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=tamsel-test-wiki",
            cwd=folder)
    with open(os.path.join(folder, "ext.cnf"), "w") as f:
        f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n"
                "extendedKeyUsage=serverAuth\n" % ",".join(names))
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "ext.cnf",
            cwd=folder)
    return os.path.join(folder, "ca.crt")


CONFIG = """\
ServerRoot {root}
ServerName 127.0.0.1
Listen 127.0.0.1:{port} https
PidFile {root}/apache.pid
Mutex file:{root} default
DefaultRuntimeDir {root}
{user}
LoadModule mpm_prefork_module {modules}/mod_mpm_prefork.so
LoadModule authz_core_module {modules}/mod_authz_core.so
LoadModule mime_module {modules}/mod_mime.so
LoadModule dir_module {modules}/mod_dir.so
LoadModule filter_module {modules}/mod_filter.so
LoadModule deflate_module {modules}/mod_deflate.so
LoadModule socache_shmcb_module {modules}/mod_socache_shmcb.so
LoadModule ssl_module {modules}/mod_ssl.so
LoadModule php_module {modules}/{php}
StartServers {workers}
MinSpareServers {workers}
MaxSpareServers {spare}
MaxRequestWorkers 16
KeepAlive On
MaxKeepAliveRequests 100
KeepAliveTimeout 5
LimitRequestBody {body_limit}
ErrorLog {root}/error.log
LogLevel warn
LogFormat "%k %{{SSL_SESSION_RESUMED}}x %{{Content-Encoding}}o %>s %D \\"%r\\"" tamsel
CustomLog {root}/access.log tamsel
TypesConfig /etc/mime.types
SSLEngine on
SSLCertificateFile {certs}/server.crt
SSLCertificateKeyFile {certs}/server.key
SSLSessionCache shmcb:{root}/ssl_scache(512000)
SSLRandomSeed startup builtin
DocumentRoot {doku_inc}
DirectoryIndex doku.php
<Directory />
    Require all denied
    AllowOverride None
</Directory>
<Directory {doku_inc}>
    Require all granted
</Directory>
AddType application/x-httpd-php .php
<FilesMatch "\\.php$">
    SetHandler application/x-httpd-php
</FilesMatch>
AddOutputFilterByType DEFLATE text/html text/plain text/xml application/xml
php_admin_value auto_prepend_file {root}/prepend.php
php_admin_value session.save_path {root}/sessions
php_admin_value error_reporting "E_ALL & ~E_DEPRECATED"
php_admin_value display_errors 0
php_admin_value post_max_size 64M
php_admin_value memory_limit 512M
"""


class ApacheWiki:
    """DokuWiki (the install at doku_inc) behind a private Apache over HTTPS.

    url is the wiki's https:// address; ca is the test CA's certificate,
    which the system does not trust."""

    def __init__(self, doku_inc=wiki_server.DOKU_INC, remote=True, workers=4,
                 body_limit=1 << 30):
        self.doku_inc = doku_inc.rstrip("/")
        self.body_limit = body_limit
        self.root = tempfile.mkdtemp(prefix="tamsel-apache-")
        os.chmod(self.root, 0o755)
        self.conf = os.path.join(self.root, "conf")
        self.data = os.path.join(self.root, "data")
        os.makedirs(self.conf)
        os.makedirs(os.path.join(self.root, "sessions"))
        for d in wiki_server.DATA_DIRS:
            os.makedirs(os.path.join(self.data, d))
        self.write_conf(remote)
        self.ca = make_ca(os.path.join(self.root, "certs"))
        user = run_as()
        for folder in (self.conf, self.data, os.path.join(self.root, "sessions")):
            if os.getuid() != 0:
                break
            for d, dirs, files in os.walk(folder):
                for name in [d] + [os.path.join(d, n) for n in dirs + files]:
                    os.chown(name, user.pw_uid, user.pw_gid)
        self.port = wiki_server.free_port()
        self.url = "https://127.0.0.1:%d/" % self.port
        php = sorted(n for n in os.listdir(MODULES) if n.startswith("libphp"))[-1]
        with open(os.path.join(self.root, "apache.conf"), "w") as f:
            who = ("User %s\nGroup %s" % (user.pw_name, grp.getgrgid(user.pw_gid).gr_name)
                   if os.getuid() == 0 else "")
            f.write(CONFIG.format(root=self.root, port=self.port, user=who, modules=MODULES,
                                  php=php, workers=workers, spare=max(workers, 6),
                                  body_limit=body_limit, certs=os.path.join(self.root, "certs"),
                                  doku_inc=self.doku_inc))
        started = subprocess.run([APACHE, "-f", os.path.join(self.root, "apache.conf"),
                                  "-k", "start"], capture_output=True, text=True,
                                 env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                                      "LANG": "C"})
        if started.returncode != 0:
            self.close()
            raise RuntimeError("apache did not start: " + started.stdout + started.stderr)
        deadline = time.time() + 30
        while True:
            try:
                self.client().dokuwiki.getXMLRPCAPIVersion()
                break
            except xmlrpc.client.Fault:
                break
            except (OSError, xmlrpc.client.Error):
                if time.time() > deadline:
                    log = self.error_log()
                    self.close()
                    raise RuntimeError("DokuWiki behind Apache did not answer: " + log[-2000:])
                time.sleep(0.2)

    def write_conf(self, remote):
        # A release unpacked whole keeps its default settings in its own
        # conf folder; Debian's package keeps them in /etc/dokuwiki, which
        # it finds itself.
        own = os.path.join(self.doku_inc, "conf")
        if os.path.exists(os.path.join(own, "dokuwiki.php")) and not os.path.islink(own):
            for name in os.listdir(own):
                if name.endswith((".php", ".conf")) and not name.startswith("local"):
                    shutil.copy(os.path.join(own, name), self.conf)
        with open(os.path.join(self.root, "prepend.php"), "w") as f:
            f.write("<?php\ndefine('DOKU_CONF', %s);\n" % wiki_server.php_string(self.conf + "/"))
        settings = {
            "savedir": wiki_server.php_string(self.data),
            "useacl": "1",
            "authtype": "'authplain'",
            "superuser": "'@admin'",
            "remote": "1" if remote else "0",
            "remoteuser": "'@user'",
            "lang": "'en'",
            "userewrite": "0",
        }
        with open(os.path.join(self.conf, "local.php"), "w") as f:
            f.write("<?php\n" + "".join("$conf['%s'] = %s;\n" % kv for kv in settings.items()))
        digest = hashlib.sha1(wiki_server.PASSWORD.encode()).hexdigest()
        with open(os.path.join(self.conf, "users.auth.php"), "w") as f:
            f.write("tester:%s:Test User:tester@example.org:user\n" % digest)
            f.write("outsider:%s:Outsider:outsider@example.org:guest\n" % digest)
        with open(os.path.join(self.conf, "acl.auth.php"), "w") as f:
            f.write("*\t@ALL\t0\n*\t@user\t16\n*\t@guest\t16\nlocked:*\t@user\t1\n")

    def client(self, user=None, password=wiki_server.PASSWORD):
        """An XML-RPC proxy trusting the test CA, keeping DokuWiki's login cookies."""
        context = ssl.create_default_context(cafile=self.ca)
        return wiki_server.login(self.url, SafeCookieTransport(context=context), user, password)

    def page_files(self):
        return wiki_server.files_below(os.path.join(self.data, "pages"))

    def media_files(self):
        return wiki_server.files_below(os.path.join(self.data, "media"))

    def requests(self):
        """The access log so far: one dict of LOG_FIELDS per request."""
        out = []
        try:
            with open(os.path.join(self.root, "access.log")) as f:
                for line in f:
                    parts = line.rstrip("\n").split(" ", len(LOG_FIELDS) - 1)
                    if len(parts) == len(LOG_FIELDS):
                        out.append(dict(zip(LOG_FIELDS, parts)))
        except FileNotFoundError:
            pass
        return out

    def error_log(self):
        try:
            with open(os.path.join(self.root, "error.log"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def stop(self):
        pidfile = os.path.join(self.root, "apache.pid")
        if not os.path.exists(pidfile):
            return
        with open(pidfile) as f:
            pid = int(f.read().strip() or 0)
        if pid <= 0:
            return
        try:
            os.kill(pid, 15)  # the parent stops its workers
        except ProcessLookupError:
            return
        deadline = time.time() + 15
        while time.time() < deadline:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.1)
        os.kill(pid, 9)

    def close(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)


class SafeCookieTransport(wiki_server.CookieJar, xmlrpc.client.SafeTransport):
    pass
