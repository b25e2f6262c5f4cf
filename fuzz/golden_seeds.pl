#!/usr/bin/perl
# SPDX-License-Identifier: GPL-2.0-or-later
# Writes the HTML of every golden case as fuzz seeds, with the first byte set
# to the case's options (see Tamsel_FuzzDriver.h): one seed per way the case
# is converted.  Usage: golden_seeds.pl OUTDIR GOLDEN_FILE...
use strict;
use warnings;

my $out = shift @ARGV or die "usage: $0 OUTDIR FILE...\n";
mkdir $out unless -d $out;
my %names = (SP => ' ', TAB => "\t", CR => "\r", LF => "\n");

sub unescape {
  my ($s) = @_;
  $s =~ s/\x{C2}\x{AB}(SP|TAB|CR|LF|x[0-9A-Fa-f]{2})\x{C2}\x{BB}/
    exists $names{$1} ? $names{$1} : chr(hex(substr($1, 1)))/ge;
  return $s;
}

my $count = 0;
sub seed {
  my ($head, $body) = @_;
  my $file = sprintf("%s/seed-%04d", $out, $count++);
  open(my $fh, '>:raw', $file) or die "$file: $!\n";
  print $fh $head, $body;
  close $fh;
}

for my $path (@ARGV) {
  open(my $fh, '<:raw', $path) or die "$path: $!\n";
  my ($in, @html, %opt) = (0);
  while (my $line = <$fh>) {
    $line =~ s/\r?\n\z//;
    if ($line =~ /^@@ (\S+)(.*)$/) {
      my ($head, $rest) = ($1, $2);
      if ($head eq 'expect' && $in) {
        my $html = join("\n", map { unescape($_) } @html);
        my $bits = ($opt{links} // 7) & 7 | (($opt{font} // 0) & 3) << 3;
        my $via = $opt{via} // 'both';
        my $enc = $opt{encoding} // 4;
        seed(chr($bits), $html) if $via ne 'ansi';
        if ($via ne 'wide') {
          seed($enc == 4 ? chr($bits | 1 << 5) : chr($bits | 2 << 5) . chr($enc), $html);
        }
        $in = 0;
      } elsif ($head ne 'expect' && $head ne 'end') {
        ($in, @html, %opt) = (1);
        $opt{$1} = $2 while $rest =~ /(\w+)=(\S+)/g;
      }
    } elsif ($in) {
      push @html, $line;
    }
  }
  close $fh;
}
print "$count seeds in $out\n";
