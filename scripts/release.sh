#!/usr/bin/env bash
# The release a maker ships, from the checked-out commit:
#   dist/orvane-updater-<version>/  Updater.exe, Park.exe, ElevationService.exe (stripped, signed with
#                                   SHA-256), SHA256SUMS, BUILDINFO
#   dist/symbols/                   the same programs unstripped and unsigned, for crash analysis
# then the release check: the sums, osslsigncode verify, the updater's own trust check under Wine (with
# the test certificate, whose root the check can trust) and one demo road of the x64 test build signed
# the same way.
#
# --check-reproducible builds the release twice, in two folders, and compares the unsigned programs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat >&2 <<'EOF'
usage: scripts/release.sh [--pfx FILE [--password-file FILE]] [--timestamp-url URL]
       scripts/release.sh --check-reproducible [--arch x86|x64]
  --pfx FILE            sign with this PKCS#12 file (default: the test PKI's maker certificate)
  --password-file FILE  the PKCS#12 file's password (default: none)
  --timestamp-url URL   Authenticode timestamp server, passed to osslsigncode -t
  --check-reproducible  build twice in two folders and compare the unsigned programs
  --arch x64            check the 64-bit build instead (the test suite's check)
EOF
    exit 2
}

pfx="" password_file="" timestamp_url="" check_reproducible="" arch=x86
while [ $# -gt 0 ]; do
    case "$1" in
    --pfx) pfx="$(realpath "${2:?}")"; shift 2 ;;
    --password-file) password_file="$(realpath "${2:?}")"; shift 2 ;;
    --timestamp-url) timestamp_url="${2:?}"; shift 2 ;;
    --check-reproducible) check_reproducible=1; shift ;;
    --arch) arch="${2:?}"; shift 2 ;;
    *) usage ;;
    esac
done
case "$arch" in x86 | x64) ;; *) usage ;; esac
[ -z "$check_reproducible" ] && [ "$arch" != x86 ] && { echo "only the 32-bit programs are released" >&2; usage; }
[ -n "$password_file" ] && [ -z "$pfx" ] && usage

PROGRAMS=(Updater.exe Park.exe ElevationService.exe)
declare -A BUILT_AS=([Updater.exe]=Updater.exe [Park.exe]=Park/Park.exe
                     [ElevationService.exe]=ElevationService/ElevationService.exe)
if [ "$arch" = x86 ]; then triple=i686-w64-mingw32; else triple=x86_64-w64-mingw32; fi

"${OV_ROOT}/scripts/setup.sh"
# The release build runs widl under a stopped clock (cmake/Release.cmake).
if ! command -v faketime >/dev/null; then
    ov_log "installing faketime"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q faketime >/dev/null
fi
cd "$OV_ROOT"
commit="$(git rev-parse HEAD)"
# Every date a tool writes is the commit's, so the same commit gives the same bytes.
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct "$commit")"
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    ov_log "uncommitted changes are not part of the release: it is built from commit ${commit}"
fi

# Builds the commit's tree, exported afresh into folder/src, in folder/build; leaves the stripped
# programs in folder/unsigned and the unstripped ones in folder/symbols.
build_release() {
    local folder="$1" program
    rm -rf "$folder"
    mkdir -p "${folder}/src" "${folder}/unsigned" "${folder}/symbols"
    git archive "$commit" | tar -x -C "${folder}/src"
    (cd "${folder}/src" && cmake --preset "release-${arch}" -B "${folder}/build" \
        "-DOV_DEPS_SOURCE_DIR=${OV_BUILD}/_sources" >"${folder}/configure.log")
    cmake --build "${folder}/build" -j 2 >"${folder}/build.log" ||
        { tail -n 40 "${folder}/build.log" >&2; return 1; }
    for program in "${PROGRAMS[@]}"; do
        cp "${folder}/build/${BUILT_AS[$program]}" "${folder}/symbols/${program}"
        "${triple}-strip" --strip-all -o "${folder}/unsigned/${program}" "${folder}/build/${BUILT_AS[$program]}"
    done
}

if [ -n "$check_reproducible" ]; then
    started=$SECONDS
    base="${OV_BUILD}/release/reproducible-${arch}"
    # Folders of different lengths: a build path that leaks into the programs shows up as a difference.
    ov_log "building commit ${commit:0:12} (${arch}) twice: ${base#"${OV_ROOT}"/}/first and .../second-build"
    build_release "${base}/first"
    build_release "${base}/second-build"
    status=0
    for program in "${PROGRAMS[@]}"; do
        for kind in unsigned symbols; do
            if cmp -s "${base}/first/${kind}/${program}" "${base}/second-build/${kind}/${program}"; then
                verdict=identical
            else
                verdict=DIFFERENT
                [ "$kind" = unsigned ] && status=1
            fi
            printf '%-22s %-9s %9d bytes  %s  %s\n' "$program" "$kind" \
                "$(stat -c %s "${base}/first/${kind}/${program}")" \
                "$(sha256sum "${base}/first/${kind}/${program}" | cut -c1-16)" "$verdict"
        done
    done
    if [ "$status" = 0 ]; then
        echo "reproducible: the two builds gave identical unsigned programs ($((SECONDS - started)) s)"
    else
        echo "NOT reproducible: the unsigned programs of the two builds differ ($((SECONDS - started)) s)"
    fi
    exit "$status"
fi

# --- the release ---------------------------------------------------------------------------------------
work="${OV_BUILD}/release/${arch}"
ov_log "building the release of commit ${commit:0:12} in ${work#"${OV_ROOT}"/}"
build_release "$work"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${work}/build/CMakeCache.txt")"
dist="${OV_ROOT}/dist"
out="${dist}/orvane-updater-${version}"
rm -rf "$out" "${dist}/symbols" "${dist}/test-pki"
mkdir -p "$out" "${dist}/symbols"
cp "${work}/symbols/"*.exe "${dist}/symbols/"

pki_folder="${OV_BUILD}/release/test-pki"
if [ -z "$pfx" ]; then
    # The test PKI of the end-to-end tests, made afresh (its CRLs last 30 days): the certificates name
    # their CRLs on a loopback port that the release check serves them on.
    rm -rf "$pki_folder"
    port="$("$OV_PYTHON" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    PYTHONPATH="${OV_ROOT}/tools" "$OV_PYTHON" -m pki codesign "$pki_folder" --crl-port "$port" >/dev/null
    echo "$port" >"${pki_folder}/crl-port"
    # What checking a test-signed download needs: the root nobody trusts, and the CRLs the certificates
    # name on a loopback port.
    mkdir -p "${dist}/test-pki"
    cp "${pki_folder}/root.pem" "${dist}/test-pki/root.pem"
    cat "${pki_folder}/root.crl.pem" "${pki_folder}/intermediate.crl.pem" >"${dist}/test-pki/crls.pem"
    signer="TEST CERTIFICATE: $(openssl x509 -in "${pki_folder}/orvane-inc.pem" -noout -subject -nameopt oneline)"
    signer="${signer} (test PKI; no Windows trusts it: NOT FOR SHIPPING)"
    sign_args=(-certs "${pki_folder}/orvane-inc.chain.pem" -key "${pki_folder}/orvane-inc.key")
else
    sign_args=(-pkcs12 "$pfx")
    pass_in=(-passin pass:)
    if [ -n "$password_file" ]; then
        sign_args+=(-readpass "$password_file")
        pass_in=(-passin "file:${password_file}")
    else
        sign_args+=(-pass "")
    fi
    signer="$(openssl pkcs12 -in "$pfx" -nokeys -clcerts "${pass_in[@]}" 2>/dev/null |
        openssl x509 -noout -subject -nameopt oneline 2>/dev/null || true)"
    signer="${signer:-the certificate of ${pfx##*/}}"
fi
[ -n "$timestamp_url" ] && sign_args+=(-t "$timestamp_url")

# sign IN OUT: Authenticode, SHA-256.
sign() {
    rm -f "$2"
    osslsigncode sign -h sha256 "${sign_args[@]}" -in "$1" -out "$2" >/dev/null ||
        { echo "signing ${1##*/} failed${timestamp_url:+ (timestamp server ${timestamp_url})}" >&2; return 1; }
}

loud() {
    printf '\n!!!!!!!! %s\n!!!!!!!! %s\n\n' "$1" "$2" >&2
}
[ -z "$pfx" ] && loud "SIGNED WITH THE TEST PKI'S MAKER CERTIFICATE, NOT A REAL ONE: for trying the release road only." \
    "Sign a release that ships with --pfx FILE --password-file FILE."

ov_log "signing with ${signer}"
for program in "${PROGRAMS[@]}"; do
    sign "${work}/unsigned/${program}" "${out}/${program}"
done
(cd "$out" && sha256sum "${PROGRAMS[@]}" >SHA256SUMS)

package_version() { dpkg-query -W -f '${Package} ${Version}' "$1"; }
{
    echo "Orvane Updater ${version}, ${triple} (scripts/release.sh, preset release-${arch})"
    echo "source commit: ${commit}"
    echo "date used:     $(date -u -d "@${SOURCE_DATE_EPOCH}" +%Y-%m-%dT%H:%M:%SZ) (the commit's, SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH})"
    echo "compiler:      $("${triple}-g++-posix" --version | head -n 1), $(package_version "g++-mingw-w64-${triple%%-*}-posix")"
    echo "binutils:      $("${triple}-ld" --version | head -n 1), $(package_version "binutils-mingw-w64-${triple%%-*}")"
    echo "runtime:       $(package_version "mingw-w64-${triple%%-*}-dev")"
    echo "widl:          $(widl -V 2>&1 | head -n 1), $(package_version libwine-dev)"
    echo "cmake:         $(cmake --version | head -n 1)"
    echo "signed by:     ${signer}"
    [ -n "$timestamp_url" ] && echo "timestamp:     ${timestamp_url}"
    echo "programs (bytes as shipped; unsigned: stripped, before signing, what a rebuild gives):"
    for program in "${PROGRAMS[@]}"; do
        printf '  %-22s %9d  unsigned %9d  sha256 %s\n' "$program" "$(stat -c %s "${out}/${program}")" \
            "$(stat -c %s "${work}/unsigned/${program}")" "$(sha256sum "${work}/unsigned/${program}" | cut -d' ' -f1)"
    done
} >"${out}/BUILDINFO"
[ -z "$pfx" ] && sed -i '1i !!! TEST SIGNATURE: signed with the test PKI, not the maker'"'"'s certificate. Not for shipping. !!!' \
    "${out}/BUILDINFO"

# --- the release check -----------------------------------------------------------------------------------
ov_log "release check"
(cd "$out" && sha256sum --quiet -c SHA256SUMS)
echo "SHA256SUMS matches"
verify_args=()
[ -z "$pfx" ] && verify_args=(-CAfile "${dist}/test-pki/root.pem" -CRLfile "${dist}/test-pki/crls.pem")
for program in "${PROGRAMS[@]}"; do
    if ! verified="$(osslsigncode verify "${verify_args[@]}" -in "${out}/${program}" 2>&1)"; then
        echo "$verified" >&2
        echo "osslsigncode verify refused ${program}${pfx:+ (a maker certificate must chain to a root in the system CA bundle)}" >&2
        exit 1
    fi
    echo "osslsigncode verify: ${program} $(grep -m1 -o 'Signature verification: ok' <<<"$verified")"
done

# The trust check and the demo road run the x64 test build's tools and programs: 32-bit Wine is not
# available here.
ov_log "building the x64 test build, signing its programs the same way"
cmake --preset mingw-x64 >/dev/null
cmake --build --preset mingw-x64 >/dev/null
signed_x64="${OV_BUILD}/release/signed-x64"
rm -rf "$signed_x64"
mkdir -p "$signed_x64"
for program in "${PROGRAMS[@]}"; do
    sign "${OV_BUILD}/x64/${BUILT_AS[$program]}" "${signed_x64}/${program}"
done
"${OV_ROOT}/scripts/wine-session.sh" start
trap '"${OV_ROOT}/scripts/wine-session.sh" stop' EXIT
if [ -z "$pfx" ]; then
    echo "the updater's trust check, test root trusted:"
    "$OV_PYTHON" "${OV_ROOT}/tools/release/check_trust.py" "$pki_folder" "${out}/"*.exe "${signed_x64}/"*.exe
fi
echo "demo road with the signed x64 programs:"
# Without --pfx the programs are signed by the release's own test PKI: the road trusts it too.
signers_pki=""
[ -z "$pfx" ] && signers_pki="$pki_folder"
OV_SHIPPED_PROGRAMS="$signed_x64" OV_SIGNERS_PKI="$signers_pki" \
    "$OV_PYTHON" "${OV_ROOT}/tools/demo/run_demo.py"
[ -z "$pfx" ] && loud "TEST-SIGNED RELEASE in ${out#"${OV_ROOT}"/}: its root is dist/test-pki/root.pem." \
    "Not for shipping: sign with --pfx FILE --password-file FILE."

echo
echo "release written: ${out#"${OV_ROOT}"/}"
cat "${out}/BUILDINFO"
