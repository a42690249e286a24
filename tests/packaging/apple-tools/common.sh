# shellcheck shell=sh
# Sourced by every stand-in for Apple's tools. The stand-ins run build-pkg.sh's and check-installed.sh's
# Mac path on Linux: each records its call as one line "TOOL ARGUMENTS..." in $APPLE_TOOLS_LOG and answers
# in the real tool's documented output format (cited in each). Switches, all optional:
#   APPLE_TOOLS_FAIL            words naming the steps that fail as the real tool fails: lipo, otool,
#                               codesign-sign, codesign-verify, ditto, pkgbuild, productbuild,
#                               notarytool-submit, notarytool-log, stapler-staple, stapler-validate, spctl,
#                               pkgutil
#   APPLE_TOOLS_CODESIGN        adhoc: codesign signs ad hoc whatever identity it is given; unsigned: it
#                               reports success and leaves the file unsigned
#   APPLE_TOOLS_NOTARY_STATUS   the status the notary service gives (default: Invalid when the package
#                               holds code that is not signed with a Developer ID, a timestamp and the
#                               hardened runtime, or is itself unsigned; Accepted otherwise)
#   APPLE_TOOLS_STATE           a folder for what the notary service remembers between calls
#   APPLE_TOOLS_RECEIPTS        a folder of receipts for pkgutil --pkgs/--files/--pkg-info: ID.files (one
#                               path a line, relative to the location) and ID.info ("location: PATH",
#                               "version: V")
#
# The Mach-O files are stand-ins too: a fat header (magic 0xcafebabe, the count of architectures) followed
# by text lines "arch NAME", "link INSTALL_NAME" and, once signed, "signature AUTHORITY;FLAGS;TIME" where
# AUTHORITY is the identity or "adhoc", FLAGS "runtime" or "none", TIME "timestamp" or "none". Packages are
# text files starting with "xar!" (the flat package magic).

record() {
  [ -z "${APPLE_TOOLS_LOG:-}" ] || echo "$*" >>"$APPLE_TOOLS_LOG"
}

# fails STEP: STEP is one of the words in $APPLE_TOOLS_FAIL.
fails() {
  case " ${APPLE_TOOLS_FAIL:-} " in *" $1 "*) return 0 ;; esac
  return 1
}

# is_macho FILE: FILE starts with a Mach-O magic number (thin either byte order, or fat).
is_macho() {
  [ -f "$1" ] || return 1
  case $(od -An -tx1 -N4 "$1" | tr -d ' \n') in
    cafebabe | cafebabf | feedface | feedfacf | cefaedfe | cffaedfe) return 0 ;;
  esac
  return 1
}

# field FILE KEY: the values of FILE's "KEY VALUE" lines.
field() {
  sed -n "s/^$2 //p" "$1"
}

# make_macho FILE ARCHS [LINKS [SIGNATURE]]: a stand-in universal Mach-O file holding the architectures and
# linking the install names (blank-separated lists); for the tests.
make_macho() {
  mkdir -p "$(dirname "$1")"
  {
    printf '\312\376\272\276\000\000\000\002\n'
    for arch in $2; do echo "arch $arch"; done
    for link in ${3:-}; do echo "link $link"; done
    [ -z "${4:-}" ] || echo "signature $4"
  } >"$1"
  chmod 0755 "$1"
}
