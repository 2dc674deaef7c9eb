#!/usr/bin/env bash
# What the package holds, from an install of the build into a scratch
# root: man pages compressed as Debian has them, the package's docs under
# its own name, icons at every size, a menu entry and AppStream metainfo
# that their validators accept.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
status=0
need() { [ -s "$root/$1" ] || { echo "missing: /$1"; status=1; }; }
for page in vantorq vantorq-edid vantorq-sim vantorq-ctl; do
  need usr/share/man/man1/$page.1.gz
  gzip -t "$root/usr/share/man/man1/$page.1.gz" || status=1
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH ${page^^} 1" || { echo "$page.1: no .TH"; status=1; }
  # Each page names the other three.
  for other in vantorq vantorq-edid vantorq-sim vantorq-ctl; do
    [ "$other" = "$page" ] && continue
    zcat "$root/usr/share/man/man1/$page.1.gz" | sed -n '/^\.SH SEE ALSO/,$p' | grep -q "^\.BR $other (1)" ||
      { echo "$page.1: SEE ALSO lacks $other"; status=1; }
  done
done
# The metainfo provides every program.
for bin in vantorq vantorq-edid vantorq-sim vantorq-ctl; do
  grep -q "<binary>$bin</binary>" "$root/usr/share/metainfo/invalid.vantorq.Console.metainfo.xml" ||
    { echo "metainfo does not provide $bin"; status=1; }
done
for doc in copyright changelog.gz README.md; do need usr/share/doc/vantorq-console/$doc; done
[ ! -e "$root/usr/share/doc/vantorq" ] || { echo "docs under /usr/share/doc/vantorq"; status=1; }
for size in 16 32 48 64 128 256; do need usr/share/icons/hicolor/${size}x${size}/apps/vantorq.png; done
need usr/share/icons/hicolor/scalable/apps/vantorq.svg
desktop=$root/usr/share/applications/invalid.vantorq.Console.desktop
need usr/share/applications/invalid.vantorq.Console.desktop
desktop-file-validate "$desktop" || status=1
main=$(sed -n 's/^Categories=//p' "$desktop" | tr ';' '\n' | grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility' || true)
[ "$main" -eq 1 ] || { echo "the menu entry has $main main categories"; status=1; }
appstreamcli validate --no-net "$root/usr/share/metainfo/invalid.vantorq.Console.metainfo.xml" >/dev/null || status=1
for bin in vantorq vantorq-edid vantorq-sim vantorq-ctl; do need usr/bin/$bin; done
need usr/share/bash-completion/completions/vantorq-ctl
# The completion offers the commands (bash-completion's helpers stubbed).
offered=$(bash -c '_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
  source "$1"; COMP_WORDS=(vantorq-ctl s); COMP_CWORD=1; _vantorq_ctl; echo "${COMPREPLY[*]}"' _ \
  "$root/usr/share/bash-completion/completions/vantorq-ctl")
[ "$offered" = "status set save-setup" ] || { echo "completion offers: $offered"; status=1; }
[ $status -eq 0 ] && echo "install tree: complete"
exit $status
