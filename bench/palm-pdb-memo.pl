#!/usr/bin/perl
# Perl's Palm::PDB (Debian's libpalm-perl) on Memo Pad databases, for
# bench/whole-sync.sh:
#
#   palm-pdb-memo.pl make FILE COUNT      write a MemoDB of COUNT memos of about
#                                         100 bytes, every tenth dirty
#   palm-pdb-memo.pl read FILE PASSES     load and decode FILE PASSES times;
#                                         prints the fastest pass in seconds
#   palm-pdb-memo.pl loadsave FILE OUT    load FILE and write it to OUT once;
#                                         prints the seconds taken
use strict;
use warnings;
use Palm::PDB;
use Palm::Memo;
use Time::HiRes qw(time);

my $command = shift // '';

if ($command eq 'make') {
  my ($file, $count) = @ARGV;
  my $pdb = Palm::Memo->new;
  $pdb->{name} = 'MemoDB';
  $pdb->{ctime} = $pdb->{mtime} = 1041379200;
  $pdb->{baktime} = -2082844800;
  $pdb->{uniqueIDseed} = $count + 1;
  my $c = $pdb->{appinfo}{categories};
  my @names = ('Unfiled', 'Work', 'Home');
  for my $i (0 .. $#names) {
    $c->[$i]{name} = $names[$i];
    $c->[$i]{id} = $i;
  }
  $pdb->{appinfo}{lastUniqueID} = $#names;
  for my $i (0 .. $count - 1) {
    my $r = $pdb->append_Record;
    $r->{id} = $i + 1;
    $r->{category} = $i % 3;
    $r->{attributes} = {};
    $r->{attributes}{dirty} = 1 if $i % 10 == 0;
    my $text = "Memo $i: ";
    $text .= 'lorem ipsum ' while length($text) < 99;
    $r->{data} = substr($text, 0, 99);
  }
  $pdb->Write($file);
} elsif ($command eq 'read') {
  my ($file, $passes) = @ARGV;
  my $best;
  for (1 .. $passes) {
    my $start = time;
    my $pdb = Palm::PDB->new;
    $pdb->Load($file);
    my $bytes = 0;
    $bytes += length($_->{data}) for @{ $pdb->{records} };
    my $took = time - $start;
    $best = $took if !defined $best || $took < $best;
  }
  printf "%.6f\n", $best;
} elsif ($command eq 'loadsave') {
  my ($file, $out) = @ARGV;
  my $start = time;
  my $pdb = Palm::PDB->new;
  $pdb->Load($file);
  $pdb->Write($out);
  printf "%.6f\n", time - $start;
} else {
  die "usage: palm-pdb-memo.pl make FILE COUNT | read FILE PASSES | loadsave FILE OUT\n";
}
