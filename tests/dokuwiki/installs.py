# SPDX-License-Identifier: GPL-2.0-or-later
"""The DokuWiki installs the suite renders and serves with.

  debian   the distribution's package (/usr/share/dokuwiki, defaults in
           /etc/dokuwiki), the oldest release people still run
  release  the newest release as published, a tarball in shared/dokuwiki/
           beside the repository's folder, unpacked into a temporary folder

TAMSEL_DOKUWIKI names the install a test uses (debian when unset). Each
install gets a private conf folder per wiki (prepare_conf) and a private data
folder; nothing of the system's wiki is written. TAMSEL_DOKUWIKI_CACHE, when
set, is a folder where the unpacked release is kept between test processes
(ctest points it into the build folder); otherwise every process unpacks it
into a temporary folder of its own and removes it at exit.
"""
import atexit
import glob
import os
import shutil
import tarfile
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAMES = ("debian", "release")
DEBIAN_INC = "/usr/share/dokuwiki/"
DEBIAN_CONF = "/etc/dokuwiki"
# What the private conf folder of the Debian package must not take over.
PRIVATE = ("local.php", "local.protected.php", "acl.auth.php", "users.auth.php")


class Install:
    def __init__(self, name, inc, conf_defaults, version):
        self.name = name
        self.inc = inc                      # DOKU_INC, with its trailing slash
        self.conf_defaults = conf_defaults  # the folder whose files a conf folder starts from
        self.version = version              # e.g. '2026-07-14b "Mort"'

    def prepare_conf(self, conf):
        """Fills the folder conf with the install's default configuration;
        the caller then writes local.php, acl.auth.php and users.auth.php."""
        os.makedirs(conf, exist_ok=True)
        for path in glob.glob(os.path.join(self.conf_defaults, "*")):
            name = os.path.basename(path)
            target = os.path.join(conf, name)
            if name in PRIVATE or name.endswith(".dist") or os.path.lexists(target):
                continue
            if self.name == "debian":
                os.symlink(path, target)  # read only: the system's own files
            elif os.path.isfile(path):
                shutil.copyfile(path, target)

    def tool(self, *parts):
        return os.path.join(self.inc, *parts)


def selected_name():
    return os.environ.get("TAMSEL_DOKUWIKI", "debian") or "debian"


def tarballs():
    """The release tarballs beside the repository, newest last."""
    return sorted(glob.glob(os.path.join(os.path.dirname(REPO), "shared", "dokuwiki",
                                         "dokuwiki-*.tar.gz")))


_cache = {}


def get(name=None):
    """(Install, None), or (None, why it is not there)."""
    name = name or selected_name()
    if name in _cache:
        return _cache[name]
    if shutil.which("php") is None:
        result = (None, "php-cli is not installed")
    elif name == "debian":
        if os.path.exists(DEBIAN_INC + "inc/init.php"):
            result = (Install("debian", DEBIAN_INC, DEBIAN_CONF, read_version(DEBIAN_INC)), None)
        else:
            result = (None, "Debian's dokuwiki package is not installed")
    elif name == "release":
        found = tarballs()
        if not found:
            result = (None, "no DokuWiki release tarball in %s"
                      % os.path.join(os.path.dirname(REPO), "shared", "dokuwiki"))
        else:
            inc = unpack(found[-1])
            result = (Install("release", inc, os.path.join(inc, "conf"), read_version(inc)), None)
    else:
        result = (None, "unknown DokuWiki install %r (TAMSEL_DOKUWIKI: %s)"
                  % (name, " or ".join(NAMES)))
    _cache[name] = result
    return result


def require(name=None):
    """The install, or exits with 77 (a skip for ctest) saying why not."""
    install, why = get(name)
    if install is None:
        print("SKIP: DokuWiki %s: %s" % (name or selected_name(), why))
        raise SystemExit(77)
    return install


def read_version(inc):
    try:
        with open(os.path.join(inc, "VERSION")) as f:
            return f.read().strip()
    except OSError:
        return "unknown"


def unpack(tarball):
    """DOKU_INC of the release in tarball, unpacked once."""
    stat = os.stat(tarball)
    key = "%s-%d-%d" % (os.path.basename(tarball)[:-len(".tar.gz")], stat.st_size,
                        int(stat.st_mtime))
    cache = os.environ.get("TAMSEL_DOKUWIKI_CACHE")
    if cache:
        os.makedirs(cache, exist_ok=True)
        final = os.path.join(cache, key)
        if not os.path.isdir(final):
            # Tests running side by side unpack each into a folder of their
            # own; the first to finish puts its folder in place.
            scratch = tempfile.mkdtemp(prefix=".unpack-", dir=cache)
            inc = extract(tarball, scratch)
            try:
                os.rename(inc, final)
            except OSError:
                pass  # another test was first
            shutil.rmtree(scratch, ignore_errors=True)
        return final + "/"
    scratch = tempfile.mkdtemp(prefix="tamsel-dokuwiki-release-")
    atexit.register(shutil.rmtree, scratch, True)
    return extract(tarball, scratch) + "/"


def extract(tarball, into):
    """Unpacks tarball into the folder into; the release's top folder."""
    with tarfile.open(tarball) as tar:
        members = [m for m in tar.getmembers() if m.isfile() or m.isdir()]
        try:
            tar.extractall(into, members=members, filter="data")
        except TypeError:  # Python before 3.12 without the filter
            for m in members:
                if m.name.startswith("/") or ".." in m.name.split("/"):
                    raise RuntimeError("unsafe name in %s: %s" % (tarball, m.name))
            tar.extractall(into, members=members)
    tops = [d for d in os.listdir(into) if os.path.isdir(os.path.join(into, d))]
    if len(tops) != 1:
        raise RuntimeError("%s: expected one top folder, found %s" % (tarball, tops))
    return os.path.join(into, tops[0])
