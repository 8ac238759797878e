#!/usr/bin/env bash
# Signs the sample images again with the sample key, after a sample changed.
# The sample key is trusted only with -simulate; its secret half stays in this
# folder of the repository and is never built, copied or installed.
#   scripts/sign-samples.sh
set -euo pipefail
cd "$(dirname "$0")/.."
key=scripts/sample-key/zel-sample.key
samples=resources/samples

# Sample file, and the product named in its trusted comment.
sign() {
  local file=$1 product=$2
  local version=${file#*-}
  version=${version%.*}
  minisign -S -s "$key" -m "$samples/$file" -x "$samples/$file.minisig" \
    -c "signature from the Zel sample key" -t "product=$product version=$version"
  minisign -V -q -p resources/keys/zel-sample.pub -m "$samples/$file"
}

sign CoveWash-5.1.3.hex "Cove Wash"
sign HalyardWash-7.1.3.hex "Halyard Wash"
sign KestrelLX-4.1.3.hex "Kestrel lX"
sign TernSpot-5.1.4.hex "Tern Spot"
# Made by scripts/make-samples.py.
sign BrisaQuad-1.0.13.hex "Brisa Quad"
sign OstrelHub-2.1.34.hex "Ostrel Hub"
sign MarlowWhite-1.7.8.hex "Marlow White"
sign MarlowMk3-3.3.4.hex "Marlow Mk3"
sign CorvidNode-4.0.41.hex "Corvid Node"
sign Sorrel3-1.0.90.hex "Sorrel 3"
sign VireoPlayer-1.2.1.bin "Vireo Player"
sign GannetBatten-10.hex "Gannet Batten"
sign KestrelVireo-4.1.3.hex "Kestrel Vireo"
