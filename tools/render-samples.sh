#!/usr/bin/env bash
# Renders the demo page's sample receipt with kiv3-render into docs/sample-receipt.png, the
# picture of it in docs/protocol.md. Builds the renderer when it is missing.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

RENDER="$ROOT/build/render/kiv3-render"
if [ ! -x "$RENDER" ]; then
    ensure_packages $BUILD_PACKAGES
    configure_and_build "$ROOT/build" Release -DBUILD_TESTING=OFF
fi

# The text of the page's <textarea id="ID">, which holds no markup.
sample() {
    sed -n "/<textarea id=\"$1\"/,/<\/textarea>/p" "$ROOT/web/index.html" |
        sed -e 's/^.*<textarea[^>]*>//' -e 's/<\/textarea>.*$//'
}

mkdir -p "$ROOT/docs"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# Receipts default to a Windows font; Debian's Noto Sans CJK TC stands in for it, so that the
# picture looks as it prints at a Windows front desk rather than in mixed fallback fonts.
cat >"$WORK/fonts.conf" <<'XML'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="same">
    <family>Microsoft JhengHei</family>
    <prefer><family>Noto Sans CJK TC</family></prefer>
  </alias>
</fontconfig>
XML
export FONTCONFIG_FILE="$WORK/fonts.conf"
sample receipt-doc | "$RENDER" --dpi 203 - "$WORK/receipt.png" >/dev/null
mv "$WORK/receipt-1.png" "$ROOT/docs/sample-receipt.png"
echo "Wrote docs/sample-receipt.png"
