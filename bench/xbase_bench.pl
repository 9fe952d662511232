#!/usr/bin/perl
# The dBASE side of the benchmark in Perl's DBD::XBase (Debian's
# libdbd-xbase-perl), on the tables that bench/bench_table.py --dbf writes.
# Prints the line of bench/odbc_bench.cpp (rows, the same order-free checksum
# of canonical values, seconds), so the benchmark script compares the three
# programs alike.
#
# DBD::XBase's SQL reads one table and has no GROUP BY or aggregates: the join
# and the grouping are done here in Perl over its SELECTs, the way an
# application on that module would do them.
#
# Usage: xbase_bench.pl DIR scan|lookup|join|order|group [VALUE]
#   scan    rows with 5000 <= AMOUNT < 5100
#   lookup  the row whose NAME is VALUE (no index)
#   join    BIG rows with AMOUNT < 1000 and their DEPT's DNAME
#   order   every row's ID and AMOUNT by AMOUNT descending, then ID
#   group   COUNT(*) and SUM(AMOUNT) of each GRP
use strict;
use warnings;
use DBI;
use Time::HiRes qw(time);

my ($dir, $shape, $value) = @ARGV;
die "usage: xbase_bench.pl DIR scan|lookup|join|order|group [VALUE]\n" unless defined $shape;

my ($rows, $checksum) = (0, 0);

# FNV-1a over the canonical text of each value, each followed by 0x1f; the
# row hashes are summed modulo 2^64. "use integer" keeps the arithmetic in
# wrapping 64-bit integers.
sub canonical {
    my ($v) = @_;
    return "\0N" unless defined $v;
    $v =~ s/ +$//;
    if ($v =~ /^\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$/ && length($v) < 40) {
        my $text = sprintf("%.4f", $v);
        $text =~ s/\.0000$//;
        return $text eq "-0" ? "0" : $text;
    }
    return $v;
}

sub add_row {
    use integer;
    my $hash = -3750763034362895579;    # 14695981039346656037 as a signed 64-bit value
    for my $v (@_) {
        for my $byte (unpack("C*", canonical($v) . "\x1f")) {
            $hash ^= $byte;
            $hash *= 1099511628211;
        }
    }
    $checksum += $hash;
    $rows++;
}

my $start = time;
my $dbh = DBI->connect("dbi:XBase:$dir", undef, undef, {RaiseError => 1, PrintError => 0});

sub each_row {
    my ($sql, $callback, @binds) = @_;
    my $sth = $dbh->prepare($sql);
    $sth->execute(@binds);
    while (my $row = $sth->fetchrow_arrayref) {
        $callback->(@$row);
    }
}

if ($shape eq 'scan') {
    each_row("select ID, NAME, AMOUNT from big where AMOUNT >= 5000 and AMOUNT < 5100", \&add_row);
} elsif ($shape eq 'lookup') {
    each_row("select ID, GRP, AMOUNT, NAME from big where NAME = ?", \&add_row, $value);
} elsif ($shape eq 'join') {
    my %dname;
    each_row("select GRP, DNAME from dept", sub { $dname{$_[0]} = $_[1] });
    each_row("select ID, GRP, AMOUNT from big where AMOUNT < 1000",
             sub { add_row($_[0], $dname{$_[1]}, $_[2]) if exists $dname{$_[1]} });
} elsif ($shape eq 'order') {
    each_row("select ID, AMOUNT from big order by AMOUNT desc, ID", \&add_row);
} elsif ($shape eq 'group') {
    my (%count, %sum);
    each_row("select GRP, AMOUNT from big", sub { $count{$_[0]}++; $sum{$_[0]} += $_[1] });
    add_row($_, $count{$_}, $sum{$_}) for sort { $a <=> $b } keys %count;
} else {
    die "unknown shape $shape\n";
}
$dbh->disconnect;
my $seconds = time - $start;
printf "rows=%d checksum=%016x seconds=%.6f\n", $rows, $checksum, $seconds;
