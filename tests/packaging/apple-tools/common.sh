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
#   APPLE_TOOLS_IDENTITIES      the keychain's valid signing identities, "SHA1 NAME" each, separated by ";" (default:
#                               Quorlex's Developer ID Application and Installer identities and another
#                               team's Application identity; see keychain below)
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

# keychain: the valid signing identities, "SHA1 NAME" a line.
keychain() {
  if [ -n "${APPLE_TOOLS_IDENTITIES:-}" ]; then
    printf '%s\n' "$APPLE_TOOLS_IDENTITIES" | tr ';' '\n'
  else
    echo "5E3F1D2C4B6A79880716253443526170819A0B1C Developer ID Application: Quorlex s.r.o. (QX7T2M9K4B)"
    echo "9A8B7C6D5E4F30211203F4E5D6C7B8A90A1B2C3D Developer ID Installer: Quorlex s.r.o. (QX7T2M9K4B)"
    echo "0F1E2D3C4B5A69788796A5B4C3D2E1F00F1E2D3C Developer ID Application: Other (AB12CD34EF)"
  fi
}

# signing_identity TOOL IDENTITY: the name of the one keychain identity IDENTITY names (by its name or its
# SHA-1 hash); else TOOL's error on stderr and status 1 (codesign(1), "-s identity": a name matching more
# than one identity is ambiguous; a SHA-1 hash names one).
signing_identity() {
  matches=$(keychain | while read -r hash name; do
    if [ "$name" = "$2" ] || [ "$(echo "$hash" | tr a-f A-F)" = "$(echo "$2" | tr a-f A-F)" ]; then echo "$name"; fi
  done)
  case $(printf '%s' "$matches" | grep -c .) in
    1) echo "$matches" ;;
    0) echo "$2: no identity found" >&2; return 1 ;;
    *) echo "$2: ambiguous (matches \"$(echo "$matches" | head -n 1)\" and others in login.keychain-db)" >&2; return 1 ;;
  esac
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
