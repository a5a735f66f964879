#!/usr/bin/perl
# Prints a database file in the canonical text form of fernwick-pdbdump,
# read through Perl's Palm::PDB (an independent reader):
#
#   pdb-dump.pl [--decode] FILE
#
# Without --decode every record is printed raw (Palm::Raw); with --decode the
# built-in applications' records are printed field by field through
# Palm::Memo, Palm::ToDo, Palm::Address and Palm::Datebook.
use strict;
use warnings;
use Palm::PDB;

my $decode = 0;
if (@ARGV && $ARGV[0] eq '--decode') { $decode = 1; shift @ARGV; }
die "usage: pdb-dump.pl [--decode] FILE\n" unless @ARGV == 1;
my $file = $ARGV[0];

require Palm::Raw;
Palm::Raw->import;
Palm::PDB::RegisterPRCHandlers("Palm::Raw", ["", ""]);
my $pdb = Palm::PDB->new;
$pdb->Load($file);
# Records without data (deleted, not archived) have nothing to decode; note
# them while the records are still raw.
my %empty;
if (!$pdb->{attributes}{ResDB}) {
  for my $i (0 .. $#{$pdb->{records}}) {
    $empty{$i} = 1 if length($pdb->{records}[$i]{data}) == 0;
  }
}
if ($decode) {
  for my $m (qw(Memo ToDo Address Datebook)) {
    require "Palm/$m.pm";
    "Palm::$m"->import;
  }
  $pdb = Palm::PDB->new;
  $pdb->Load($file);
}

my $EPOCH_1904 = 2082844800;

sub quote {
  my ($s) = @_;
  $s = '' unless defined $s;
  $s =~ s/([^\x20-\x7e]|[\\"])/sprintf("\\x%02x", ord $1)/ge;
  return "\"$s\"";
}

sub hex_of { my ($s) = @_; return defined $s ? unpack("H*", $s) : 'none'; }

sub db_attributes {
  my $a = $pdb->{attributes};
  my %bits = (ResDB => 0x0001, ReadOnly => 0x0002, AppInfoDirty => 0x0004, Backup => 0x0008,
    OKToInstallNewer => 0x0010, ResetAfterInstall => 0x0020, CopyPrevention => 0x0040,
    Stream => 0x0080, Hidden => 0x0100, LaunchableData => 0x0200, Recyclable => 0x0400,
    Bundle => 0x0800, Open => 0x8000);
  my $v = 0;
  for my $k (keys %bits) { $v |= $bits{$k} if $a->{$k}; }
  return $v;
}

sub record_attributes {
  my ($r) = @_;
  my $a = $r->{attributes};
  my $v = 0;
  if ($a->{expunged} || $a->{deleted}) {
    $v |= 0x08 if $a->{archive};
  } else {
    $v = $r->{category} & 0x0f;
  }
  $v |= 0x80 if $a->{expunged};
  $v |= 0x40 if $a->{dirty};
  $v |= 0x20 if $a->{deleted};
  $v |= 0x10 if $a->{private};
  return $v;
}

sub date_text {
  my ($y, $m, $d) = @_;
  return 'none' unless defined $y;
  return sprintf("%04d-%02d-%02d", $y, $m, $d);
}

sub prefix {
  my ($r) = @_;
  return sprintf("record attr=0x%02x id=%d", record_attributes($r), $r->{id});
}

printf "name %s\n", quote($pdb->{name});
printf "attributes 0x%04x\n", db_attributes();
printf "version %d\n", $pdb->{version};
printf "dates %d %d %d\n", $pdb->{ctime} + $EPOCH_1904, $pdb->{mtime} + $EPOCH_1904,
  $pdb->{baktime} + $EPOCH_1904;
printf "modnum %d\n", $pdb->{modnum};
printf "type %s creator %s\n", quote($pdb->{type}), quote($pdb->{creator});
printf "seed %d\n", $pdb->{uniqueIDseed};

my $is_resource = $pdb->{attributes}{ResDB} ? 1 : 0;
my $creator = $pdb->{creator};
my $builtin = $decode && !$is_resource && $creator =~ /^(memo|todo|addr|date)$/;

if (!$builtin) {
  printf "appinfo %s\n", hex_of($pdb->{appinfo});
  printf "sortinfo %s\n", hex_of($pdb->{sort});
  if ($is_resource) {
    printf "resources %d\n", scalar @{$pdb->{resources}};
    for my $r (@{$pdb->{resources}}) {
      printf "resource type=%s id=%d data=%s\n", quote($r->{type}), $r->{id}, hex_of($r->{data});
    }
  } else {
    printf "records %d\n", scalar @{$pdb->{records}};
    for my $r (@{$pdb->{records}}) {
      printf "%s data=%s\n", prefix($r), hex_of($r->{data});
    }
  }
  exit 0;
}

my $ai = $pdb->{appinfo};
if (!defined $ai) {
  print "appinfo none\n";
} else {
  my $renamed = 0;
  for my $i (0 .. 15) {
    my $c = $ai->{categories}[$i];
    printf "category %d id=%d renamed=%d %s\n", $i, $c->{id}, $c->{renamed} ? 1 : 0,
      quote($c->{name});
  }
  printf "last_unique_id %d\n", $ai->{lastUniqueID};
  if ($creator eq 'memo') {
    printf "memo sort_order=%d\n", $ai->{sortOrder};
  } elsif ($creator eq 'todo') {
    printf "todo dirty=%d sort_by_priority=%d\n", $ai->{dirty_appinfo}, $ai->{sort_order};
  } elsif ($creator eq 'addr') {
    printf "address dirty_labels=%d country=%d\n", $ai->{dirtyFields}, $ai->{country};
    my @names = qw(name firstName company phone1 phone2 phone3 phone4 phone5 address city
      state zipCode country title custom1 custom2 custom3 custom4 note phone6 phone7 phone8);
    for my $i (0 .. $#names) {
      printf "label %d %s\n", $i, quote($ai->{fieldLabels}{$names[$i]});
    }
  } elsif ($creator eq 'date') {
    printf "datebook start_of_week=%d\n", $ai->{start_of_week};
  }
}

my @address_fields = qw(name firstName company phone1 phone2 phone3 phone4 phone5 address city
  state zipCode country title custom1 custom2 custom3 custom4 note);
for my $i (0 .. $#{$pdb->{records}}) {
  my $r = $pdb->{records}[$i];
  if ($empty{$i}) {
    printf "%s empty\n", prefix($r);
    next;
  }
  if ($creator eq 'memo') {
    printf "%s text=%s\n", prefix($r), quote($r->{data});
  } elsif ($creator eq 'todo') {
    printf "%s due=%s priority=%d completed=%d description=%s note=%s\n", prefix($r),
      date_text($r->{due_year}, $r->{due_month}, $r->{due_day}), $r->{priority},
      $r->{completed} ? 1 : 0, quote($r->{description}), quote($r->{note});
  } elsif ($creator eq 'addr') {
    my $l = $r->{phoneLabel};
    printf "%s labels=%d,%d,%d,%d,%d shown=%d\n", prefix($r), $l->{phone1}, $l->{phone2},
      $l->{phone3}, $l->{phone4}, $l->{phone5}, $l->{display};
    for my $i (0 .. $#address_fields) {
      my $v = $r->{fields}{$address_fields[$i]};
      printf "field %d %s\n", $i, quote($v) if defined $v;
    }
  } elsif ($creator eq 'date') {
    my $time = $r->{start_hour} == 0xff ? 'untimed'
      : sprintf("%02d:%02d-%02d:%02d", $r->{start_hour}, $r->{start_minute}, $r->{end_hour},
        $r->{end_minute});
    my $alarm = defined $r->{alarm} ? "$r->{alarm}{advance},$r->{alarm}{unit}" : 'none';
    my $repeat = 'none';
    if (defined $r->{repeat}) {
      my $p = $r->{repeat};
      my ($on, $sow) = (0, 0);
      if ($p->{type} == 2) {
        for my $i (0 .. 6) { $on |= 1 << $i if $p->{repeat_days}[$i]; }
        $sow = $p->{start_of_week};
      } elsif ($p->{type} == 3) {
        $on = $p->{weeknum} * 7 + $p->{daynum};
      }
      $repeat = join(',', $p->{type}, date_text($p->{end_year}, $p->{end_month}, $p->{end_day}),
        $p->{frequency}, $on, $sow);
    }
    my $exceptions = 'none';
    if ($r->{exceptions} && @{$r->{exceptions}}) {
      $exceptions = join(';', map { date_text($_->[2], $_->[1], $_->[0]) } @{$r->{exceptions}});
    }
    printf "%s time=%s date=%s alarm=%s repeat=%s exceptions=%s description=%s note=%s\n",
      prefix($r), $time, date_text($r->{year}, $r->{month}, $r->{day}), $alarm, $repeat,
      $exceptions, defined $r->{description} ? quote($r->{description}) : 'none',
      defined $r->{note} ? quote($r->{note}) : 'none';
  }
}
