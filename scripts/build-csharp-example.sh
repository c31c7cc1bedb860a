#!/usr/bin/env bash
# Builds the C# example with a .NET SDK, where one is present (this project does not install one;
# `make examples` builds and runs the example with Mono). The console template targets a .NET
# whose framework carries the GBK code page provider that the example registers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/csharp-dotnet
rm -rf "$work" && mkdir -p "$work"
cd "$work"
dotnet new console --force -o . >/dev/null
cp "$root/examples/ReadCard.cs" Program.cs
dotnet build -nologo -v quiet -warnaserror
