#!/usr/bin/env bash
# Signs the unsigned image with Authenticode (SHA-256) and an RFC 3161
# time-stamp countersignature; the certificate table ends the signed file.
#
#   sign-image.sh IN OUT WORKDIR CERT KEY PASSWORD_FILE TIMESTAMP_URL
#
# CERT and KEY: the signer's certificate (with its chain) and private key.
# Both empty: the development set in WORKDIR is used, made first if missing
# or if it starts after the signing time. PASSWORD_FILE: optional, for an
# encrypted KEY. TIMESTAMP_URL: an RFC 3161 service; empty: the local
# development time-stamp authority in WORKDIR answers, offline.
#
# The signing and time-stamp time is SOURCE_DATE_EPOCH when that is set, else
# the current time.
set -euo pipefail
in=$1 out=$2 work=$3 cert=$4 key=$5 password_file=$6 timestamp_url=$7
here=$(cd "$(dirname "$0")" && pwd)

when=${SOURCE_DATE_EPOCH:-$(date +%s)}
if ! [[ $when =~ ^[0-9]+$ ]]; then
  echo "sign-image: SOURCE_DATE_EPOCH is not a number of seconds: $when" >&2
  exit 1
fi

if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  echo "sign-image: give both a certificate and its key, or neither" >&2
  exit 1
fi

dev=$work/dev-pki
need_dev=no
if [ -z "$cert" ] || [ -z "$timestamp_url" ]; then
  need_dev=yes
fi
if [ $need_dev = yes ]; then
  if [ ! -f "$dev/not-before" ] || [ "$(cat "$dev/not-before")" -gt "$when" ]; then
    # A day's margin before the signing time, so that clocks a little apart
    # still see the certificates as valid.
    start=$((when > 86400 ? when - 86400 : 0))
    "$here/make-dev-pki.sh" "$dev" "$start"
  fi
fi

args=(sign -h sha256 -time "$when")
if [ -n "$cert" ]; then
  args+=(-certs "$cert" -key "$key")
  [ -n "$password_file" ] && args+=(-readpass "$password_file")
else
  args+=(-certs "$dev/codesign.pem" -key "$dev/codesign.key")
fi
if [ -n "$timestamp_url" ]; then
  args+=(-ts "$timestamp_url")
else
  args+=(-TSA-certs "$dev/tsa-chain.pem" -TSA-key "$dev/tsa.key" -TSA-time "$when")
fi

tmp=$out.signing
rm -f "$tmp"
if ! osslsigncode "${args[@]}" -in "$in" -out "$tmp" >"$work/sign.log" 2>&1; then
  cat "$work/sign.log" >&2
  rm -f "$tmp"
  exit 1
fi
chmod 755 "$tmp"
mv -f "$tmp" "$out"
