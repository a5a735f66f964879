#!/usr/bin/perl
# Writes databases through Perl's Palm::PDB (an independent writer) into DIR,
# for the interoperability check to read back with fernwick-pdbdump:
#
#   make-dbs.pl DIR
#
# PerlMemo.pdb, PerlToDo.pdb, PerlAddress.pdb, PerlDatebook.pdb in the
# built-in formats, PerlRaw.pdb with a sort block and every record flag, and
# PerlResources.prc, a resource database. Dates and ids are fixed.
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;
use Palm::Memo;
use Palm::ToDo;
use Palm::Address;
use Palm::Datebook;

my $dir = shift or die "usage: make-dbs.pl DIR\n";
my $ctime = 1041379200;    # 1 January 2003, Unix time
my $mtime = 1045000000;

sub common {
  my ($pdb, $name, $seed) = @_;
  $pdb->{name} = $name;
  $pdb->{ctime} = $ctime;
  $pdb->{mtime} = $mtime;
  $pdb->{baktime} = -2082844800;    # never backed up: 0 in the file
  $pdb->{modnum} = 12;
  $pdb->{version} = 1;
  $pdb->{uniqueIDseed} = $seed;
  $pdb->{attributes}{Backup} = 1;
}

sub add {
  my ($pdb, $id, $category, %flags) = @_;
  my $r = $pdb->append_Record;
  $r->{id} = $id;
  $r->{category} = $category;
  $r->{attributes} = {};
  $r->{attributes}{dirty} = 1 if $flags{dirty};
  $r->{attributes}{private} = 1 if $flags{secret};
  $r->{attributes}{expunged} = 1 if $flags{deleted};
  $r->{attributes}{archive} = 1 if $flags{archived};
  return $r;
}

sub categories {
  my ($pdb, @names) = @_;
  my $c = $pdb->{appinfo}{categories};
  for my $i (0 .. $#names) {
    $c->[$i]{name} = $names[$i];
    $c->[$i]{id} = $i;
    $c->[$i]{renamed} = $i ? 1 : 0;
  }
  $pdb->{appinfo}{lastUniqueID} = $#names;
}

{
  my $pdb = Palm::Memo->new;
  common($pdb, "MemoDB", 0x3000);
  categories($pdb, "Unfiled", "Work", "Home");
  $pdb->{appinfo}{sortOrder} = 1;
  my $n = 0x2001;
  add($pdb, $n++, 1)->{data} = "Call the printer about proofs";
  add($pdb, $n++, 2, dirty => 1)->{data} = "Shopping\nmilk\nbread\neggs";
  add($pdb, $n++, 0, secret => 1)->{data} = "Door code 1947";
  add($pdb, $n++, 0, deleted => 1, archived => 1, dirty => 1)->{data} = "Archived memo";
  add($pdb, $n++, 2)->{data} = "Caf\xe9 au lait";
  $pdb->Write("$dir/PerlMemo.pdb");
}
{
  my $pdb = Palm::ToDo->new;
  common($pdb, "ToDoDB", 0x4000);
  categories($pdb, "Unfiled", "Work", "Home", "Errands");
  $pdb->{appinfo}{sort_order} = 1;
  $pdb->{appinfo}{dirty_appinfo} = 0;
  my $n = 0x3001;
  my $r = add($pdb, $n++, 1);
  @$r{qw(due_day due_month due_year priority description note)} =
    (15, 7, 2003, 1, "Send the report", "Three copies");
  $r = add($pdb, $n++, 3, dirty => 1);
  @$r{qw(priority description completed)} = (4, "Buy stamps", 1);
  $r = add($pdb, $n++, 2, secret => 1);
  @$r{qw(due_day due_month due_year priority description)} = (1, 1, 2004, 2, "New diary");
  $pdb->Write("$dir/PerlToDo.pdb");
}
{
  my $pdb = Palm::Address->new;
  common($pdb, "AddressDB", 0x5000);
  categories($pdb, "Unfiled", "Business", "Personal");
  $pdb->{appinfo}{country} = 3;
  my $n = 0x4001;
  my $r = add($pdb, $n++, 1);
  $r->{fields}{name} = "Ortega";
  $r->{fields}{firstName} = "Lena";
  $r->{fields}{company} = "Ortega Maps";
  $r->{fields}{phone1} = "555-0201";
  $r->{fields}{phone3} = "lena\@ortegamaps.example";
  $r->{fields}{city} = "Tucson";
  $r->{fields}{note} = "Prefers e-mail";
  $r->{phoneLabel}{phone3} = 4;
  $r->{phoneLabel}{display} = 2;
  $r = add($pdb, $n++, 2, dirty => 1);
  $r->{fields}{name} = "Berg";
  $r->{fields}{firstName} = "Nils";
  $r->{fields}{phone2} = "555-0202";
  $r->{fields}{custom1} = "Sailing";
  $r = add($pdb, $n++, 0);
  $r->{fields}{company} = "Corner Hardware";
  $r->{fields}{phone1} = "555-0203";
  $pdb->Write("$dir/PerlAddress.pdb");
}
{
  my $pdb = Palm::Datebook->new;
  common($pdb, "DatebookDB", 0x6000);
  $pdb->{appinfo}{start_of_week} = 1;
  my $n = 0x5001;
  my $r = add($pdb, $n++, 0);
  @$r{qw(start_hour start_minute end_hour end_minute day month year description)} =
    (9, 30, 10, 15, 3, 3, 2003, "Planning");
  $r->{alarm} = {advance => 10, unit => 0};
  $r = add($pdb, $n++, 0, dirty => 1);
  @$r{qw(start_hour start_minute end_hour end_minute day month year description note)} =
    (18, 0, 19, 0, 5, 3, 2003, "Choir", "Bring scores");
  $r->{repeat} = {type => 2, frequency => 1, repeat_days => [0, 0, 0, 1, 0, 0, 0],
    start_of_week => 1, end_day => 30, end_month => 6, end_year => 2003};
  $r->{exceptions} = [[19, 3, 2003], [2, 4, 2003]];
  $r = add($pdb, $n++, 0);
  @$r{qw(start_hour start_minute end_hour end_minute day month year description)} =
    (0xff, 0xff, 0xff, 0xff, 14, 8, 2003, "Birthday");
  $r->{alarm} = {advance => 1, unit => 2};
  $r->{repeat} = {type => 5, frequency => 1};
  $pdb->Write("$dir/PerlDatebook.pdb");
}
{
  my $pdb = Palm::Raw->new;
  common($pdb, "Raw flags", 0x7000);
  $pdb->{type} = "Test";
  $pdb->{creator} = "Fwck";
  $pdb->{attributes}{$_} = 1 for qw(ReadOnly AppInfoDirty OKToInstallNewer Hidden);
  $pdb->{appinfo} = "application info \x00\x01\x02\xff";
  $pdb->{sort} = "\x00\x02\x00\x01\x00\x00";
  my $n = 0x6001;
  for my $cat (0 .. 15) {
    add($pdb, $n++, $cat, dirty => $cat % 2, secret => $cat % 3 == 0)->{data} = pack("n C*", $cat, 1 .. $cat);
  }
  add($pdb, $n++, 0, deleted => 1, archived => 1)->{data} = "archived";
  $pdb->Write("$dir/PerlRaw.pdb");
}
{
  my $pdb = Palm::Raw->new;
  common($pdb, "Perl resources", 0);
  $pdb->{type} = "appl";
  $pdb->{creator} = "Fwck";
  $pdb->{attributes}{ResDB} = 1;
  $pdb->{attributes}{LaunchableData} = 1;
  $pdb->{resources} = [];
  push @{$pdb->{resources}}, {type => "code", id => 0, data => "\x00\x00\x00\x01"};
  push @{$pdb->{resources}}, {type => "code", id => 1, data => "\x4e\x75" x 20};
  push @{$pdb->{resources}}, {type => "tFRM", id => 1000, data => "form"};
  push @{$pdb->{resources}}, {type => "tAIN", id => 1000, data => "Perl App\x00"};
  $pdb->Write("$dir/PerlResources.prc");
}
