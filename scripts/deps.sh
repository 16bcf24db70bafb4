#!/usr/bin/env bash
# Installs what kilnpack needs to build and test on Debian (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    g++ clang libclang-rt-dev cmake ninja-build pkg-config \
    libxml2-dev libdeflate-dev libbz2-dev liblzma-dev libplist-dev libplist-utils libicu-dev \
    libpng-dev libtiff-dev libcairo2-dev libpango1.0-dev fonts-dejavu-core \
    libgtest-dev libgmock-dev \
    7zip dmg2img libfshfs-utils apfsprogs libfsapfs-utils gdisk pigz pbzip2 xz-utils time \
    dpkg-dev fakeroot groff-base man-db libxml2-utils \
    libbsd-dev uuid-dev libssl-dev libcurl4-openssl-dev python3 make
