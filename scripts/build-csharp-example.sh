#!/usr/bin/env bash
# Builds the C# example where a .NET SDK is present (it is not installed by this project).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/csharp-dotnet
rm -rf "$work" && mkdir -p "$work"
cd "$work"
dotnet new console --force -o . >/dev/null
cp "$root/examples/ReadCard.cs" Program.cs
dotnet add package System.Text.Encoding.CodePages >/dev/null 2>&1 || true
dotnet build -nologo -v quiet
