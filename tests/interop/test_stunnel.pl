#!/usr/bin/perl
# dazoroz-send over TLS through a third-party TLS terminator, stunnel4, in front of a plain
# dazoroz-snppd, set up as the README tells users to: the page goes through, and a certificate
# from a CA the client does not trust stops it.
#   test_stunnel.pl DAZOROZ_SEND DAZOROZ_SNPPD MAKE_TEST_PKI
use strict;
use warnings;

use IO::Socket::INET;
use Interop;

my ($send, $snppd, $make_pki) = @ARGV;
my $stunnel = '/usr/bin/stunnel4';
need_file($stunnel, 'stunnel4');
skip_test('the openssl command is missing (Debian package openssl; ./test.sh installs it)')
  if !grep { -x "$_/openssl" } split(/:/, $ENV{PATH} // '');

my $dir = scratch_dir();
my $pki = run_program(['bash', $make_pki, "$dir/pki"]);
die "make-test-pki.sh failed: $pki->{err}\n" if $pki->{code} != 0;

my $server = start_server($snppd, '--address', '127.0.0.1', '--port', '0');
my $listening = server_line($server, 'err', qr/listening on 127\.0\.0\.1:\d+$/)
  // die "dazoroz-snppd did not start\n";
my ($plain_port) = $listening =~ /:(\d+)$/;

# A port that is free now: one the system hands out, given back at once.
my $probe = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 1,
                                  ReuseAddr => 1) or die "no free port: $!\n";
my $tls_port = $probe->sockport;
close($probe);

open(my $config, '>', "$dir/stunnel.conf") or die "stunnel.conf: $!\n";
print $config <<"END";
foreground = yes
pid =
syslog = no
debug = 5
[snpp]
accept = 127.0.0.1:$tls_port
connect = 127.0.0.1:$plain_port
cert = $dir/pki/server.pem
key = $dir/pki/server.key
sslVersionMin = TLSv1.2
END
close($config);

my $tunnel = start_server($stunnel, "$dir/stunnel.conf");
if (!defined server_line($tunnel, 'err', qr/Configuration successful/)) {
    my @said = @{$tunnel->{err}{lines}};
    skip_test("stunnel4 cannot run here: " . ($said[-1] // 'it said nothing'));
}

my $connected = "status: CONNECTING...\nstatus: CONNECTED...\n";
my @cases = (
    {name => 'trusted CA, by name', args => ['--server', 'localhost', '--tls-ca', "$dir/pki/ca.pem"],
     out => $connected . "status: SUCCESS\n", code => 0, page => "page 77: Call home"},
    {name => "the system's CAs only", args => ['--tls'],
     out => "status: CONNECTING...\nstatus: FAIL\n"
       . "statusbar: Error: [20003] TLS: certificate is not trusted\n", code => 1},
);
for my $case (@cases) {
    my $run = send_page($send, $tls_port, '77', '-m', 'Call home', @{$case->{args}});
    check("$case->{name}: output", $run->{out} . $run->{err}, $case->{out});
    check("$case->{name}: exit status", $run->{code}, $case->{code});
    next if !$case->{page};
    check("$case->{name}: page taken", server_line($server, 'out', qr/^page /), $case->{page});
}
stop_server($tunnel);
stop_server($server);
done_testing();
