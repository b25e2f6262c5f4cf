# SPDX-License-Identifier: GPL-2.0-or-later
"""A throw-away DokuWiki around one of the suite's installs (installs.py:
Debian's package, or the newest release; TAMSEL_DOKUWIKI chooses).

DokuWiki finds its configuration through DOKU_CONF, which Debian's
inc/preload.php sets only when nothing defined it before (a release has no
preload.php). PHP's auto_prepend_file runs a file of ours first that defines
it, pointing at a temporary conf folder that holds the install's defaults and
a local.php naming a temporary data folder. The system's installation is not
touched: our local.php only moves savedir and turns ACLs off.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "dokuwiki"))
import installs  # noqa: E402

INSTALL, WHY_NOT = installs.get()
DOKU_INC = INSTALL.inc.rstrip("/") if INSTALL else installs.DEBIAN_INC.rstrip("/")
VERSION = INSTALL.version if INSTALL else ""
NAME = installs.selected_name()
DATA_DIRS = ("pages", "media", "meta", "cache", "index", "locks", "tmp", "attic",
             "media_attic", "media_meta", "log")


def available():
    return INSTALL is not None and os.path.exists(os.path.join(DOKU_INC, "bin", "render.php"))


def missing_extensions(wanted=("mbstring", "intl")):
    """The PHP extensions of wanted that the php on PATH lacks."""
    probe = subprocess.run(["php", "-r", "echo implode(' ', get_loaded_extensions());"],
                           capture_output=True, text=True, timeout=60)
    loaded = {name.lower() for name in probe.stdout.split()}
    return [name for name in wanted if name not in loaded]


def skip_reason():
    """Why the wiki cannot run here, for a test's skip message."""
    return "DokuWiki %s: %s" % (NAME, WHY_NOT or "bin/render.php missing")


class Wiki:
    def __init__(self, root=None):
        self.root = root or tempfile.mkdtemp(prefix="tamsel-dokuwiki-")
        self.conf = os.path.join(self.root, "conf")
        self.data = os.path.join(self.root, "data")
        INSTALL.prepare_conf(self.conf)
        for d in DATA_DIRS:
            os.makedirs(os.path.join(self.data, d), exist_ok=True)
        self.prepend = os.path.join(self.root, "prepend.php")
        with open(self.prepend, "w") as f:
            f.write("<?php\ndefine('DOKU_CONF', %s);\n" % php_string(self.conf + "/"))
        with open(os.path.join(self.conf, "local.php"), "w") as f:
            f.write("<?php\n$conf['savedir'] = %s;\n$conf['useacl'] = 0;\n" %
                    php_string(self.data))

    @property
    def pages(self):
        return os.path.join(self.data, "pages")

    @property
    def media(self):
        return os.path.join(self.data, "media")

    def php(self, script_args, stdin_bytes):
        cmd = ["php", "-d", "auto_prepend_file=" + self.prepend,
               "-d", "error_reporting=E_ALL & ~E_DEPRECATED"] + script_args
        result = subprocess.run(cmd, input=stdin_bytes, capture_output=True, timeout=120)
        if result.returncode != 0 or b"DokuWiki Setup Error" in result.stdout:
            raise RuntimeError("php failed: %s\n%s" % (result.stdout[-2000:], result.stderr[-2000:]))
        return result.stdout

    def render(self, text):
        """The XHTML DokuWiki renders for a page's text."""
        return self.php([os.path.join(DOKU_INC, "bin", "render.php")], text).decode("utf-8")

    def hex_lines(self, name, template, values):
        """Runs one of the PHP scripts below on values (bytes) sent one per
        line in hex, which no byte of a name can break; its answer's lines."""
        script = os.path.join(self.root, name)
        with open(script, "w") as f:
            f.write(template % php_string(DOKU_INC + "/"))
        stdin = b"".join(v.hex().encode() + b"\n" for v in values)
        return self.php([script], stdin).decode().split("\n")

    def clean_ids(self, names):
        """DokuWiki's (cleanID, sectionID) for each name (bytes)."""
        out = self.hex_lines("ids.php", IDS_PHP, names)
        pairs = [tuple(bytes.fromhex(x) for x in line.split("\t")) for line in out if line]
        assert len(pairs) == len(names), (len(pairs), len(names))
        return pairs

    def section_ids(self, titles):
        """The anchors DokuWiki's renderer gives headings with these titles (bytes), in order."""
        out = self.hex_lines("sections.php", SECTIONS_PHP, titles)
        return [bytes.fromhex(line) for line in out[:len(titles)]]

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


IDS_PHP = r"""<?php
if (!defined('DOKU_INC')) define('DOKU_INC', %s);
define('NOSESSION', 1);
require_once(DOKU_INC . 'inc/init.php');
while (($line = fgets(STDIN)) !== false) {
    $name = hex2bin(rtrim($line, "\n"));
    $check = false;
    echo bin2hex(cleanID($name)), "\t", bin2hex(sectionID($name, $check)), "\n";
}
"""


SECTIONS_PHP = r"""<?php
if (!defined('DOKU_INC')) define('DOKU_INC', %s);
define('NOSESSION', 1);
require_once(DOKU_INC . 'inc/init.php');
$check = array();
while (($line = fgets(STDIN)) !== false) {
    $title = hex2bin(rtrim($line, "\n"));
    // The renderer skips blank titles before it asks for an anchor.
    echo blank($title) ? "" : bin2hex(sectionID($title, $check)), "\n";
}
"""


def php_string(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "\\'") + "'"
