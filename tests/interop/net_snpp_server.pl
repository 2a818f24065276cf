#!/usr/bin/perl
# Net::SNPP::Server on 127.0.0.1 and a free port, serving one client after another with the
# module's own dialogue and pager ID check (7 or more digits). Prints "port N" once it listens,
# "page ID: MESSAGE" for every page it takes at SEND (a line break in it as \n), and "end" when a
# client has gone. Ends on SIGTERM or when its standard input closes.
#   --fail-send ID   SEND of a page to ID fails (the module's 554)
#   --help-first     the greeting comes after the module's HELP text, in one write
use strict;
use warnings;

use Getopt::Long;
use IO::Select;
use Net::SNPP::Server;
use Socket qw(sockaddr_in);

my ($fail_send, $help_first) = ('', 0);
GetOptions('fail-send=s' => \$fail_send, 'help-first' => \$help_first)
  or die "usage: $0 [--fail-send ID] [--help-first]\n";

$| = 1;
$SIG{TERM} = sub { exit 0 };

my $server = Net::SNPP::Server->new(Port => 0, Timeout => 60);
$server->callback(write_log => sub { });
$server->callback(
    process_page => sub {
        my ($pager, $page) = @_;
        return 0 if $pager->[0] eq $fail_send;
        print "page $pager->[0]: ", $page->{mess} =~ s/\n/\\n/gr, "\n";
        return 1;
    });
print "port ", (sockaddr_in(getsockname($server->socket)))[0], "\n";

if ($help_first) {
    # The module writes each reply line on its own; this server sends its help text and the
    # greeting together, as a reply of many lines may well arrive.
    my @help = do { no warnings; map { s/\s+$//r } <Net::SNPP::Server::DATA> };
    my $command = \&Net::Cmd::command;
    no warnings qw(once redefine);
    *Net::SNPP::Server::command = sub {
        my ($client, $text) = @_;
        return $command->(@_) if $text !~ /^220 /;
        syswrite($client, join('', map { "$_ \r\n" } @help) . "$text\r\n");
        return $client;
    };
}

# Bounded: a server nobody stops ends after ten minutes.
my $select = IO::Select->new($server->socket, \*STDIN);
my $deadline = time + 600;
while (time < $deadline) {
    for my $ready ($select->can_read($deadline - time)) {
        exit 0 if $ready == \*STDIN;
        my $client = $server->client();
        $server->handle_client($client);
        close($client);
        print "end\n";
    }
}
