# Shared by the interop tests: skipping with a reason, servers started and stopped by their pid,
# dazoroz-send run with a bound on its time, and checks that count failures. Only modules of
# perl-base, so that a test can say why it skips even where nothing else is installed.
package Interop;

use strict;
use warnings;

use Exporter qw(import);
use File::Temp ();
use IO::Select;
use POSIX qw(WNOHANG);

our @EXPORT = qw(skip_test need_root need_module need_file start_server
  server_line server_lines_until stop_server run_program send_page check done_testing
  scratch_dir);

# Every wait is bounded by this (the machine may be loaded); nothing waits for a fixed time.
our $WAIT = 30;
# The exit status that CTest counts as skipped.
my $SKIP = 77;

my @servers;
my ($checks, $failures) = (0, 0);

sub skip_test {
    my ($reason) = @_;
    print "SKIPPED: $reason\n";
    stop_server($_) for @servers;
    exit $SKIP;
}

sub need_root {
    skip_test("$_[0] needs root") if $> != 0;
}

sub need_module {
    my ($module, $package) = @_;
    skip_test("the Perl module $module is missing (Debian package $package; ./test.sh installs it)")
      if !eval "require $module; 1";
}

sub need_file {
    my ($file, $package) = @_;
    skip_test("$file is missing (Debian package $package; ./test.sh installs it)") if !-x $file;
}

sub scratch_dir {
    return File::Temp->newdir('dazoroz-interop-XXXXXX', TMPDIR => 1, CLEANUP => 1);
}

# Starts COMMAND with its standard input a pipe from us (a server of ours ends when it sees that
# close, so none outlives a test that dies) and its standard output and error read by us.
sub start_server {
    my (@command) = @_;
    pipe(my $in_read, my $in_write) or die "pipe: $!";
    pipe(my $out_read, my $out_write) or die "pipe: $!";
    pipe(my $err_read, my $err_write) or die "pipe: $!";
    my $pid = fork() // die "fork: $!";
    if ($pid == 0) {
        open(STDIN, '<&', $in_read) or die "stdin: $!";
        open(STDOUT, '>&', $out_write) or die "stdout: $!";
        open(STDERR, '>&', $err_write) or die "stderr: $!";
        exec(@command) or POSIX::_exit(127);
    }
    close($_) for $in_read, $out_write, $err_write;
    my $server = {pid => $pid, name => $command[0], stdin => $in_write,
                  out => {fh => $out_read, lines => [], buffer => ''},
                  err => {fh => $err_read, lines => [], buffer => ''}};
    push @servers, $server;
    return $server;
}

# Reads what the server has written, waiting at most until DEADLINE; false at the end of both
# streams.
sub _read_server {
    my ($server, $deadline) = @_;
    my $select = IO::Select->new(grep { defined } map { $server->{$_}{fh} } qw(out err));
    return 0 if !$select->count;
    my $left = $deadline - time;
    for my $fh ($select->can_read($left > 0 ? $left : 0)) {
        my $stream = $fh == ($server->{out}{fh} // -1) ? $server->{out} : $server->{err};
        my $bytes;
        if (!sysread($fh, $bytes, 65536)) {
            close($fh);
            $stream->{fh} = undef;
            next;
        }
        $stream->{buffer} .= $bytes;
        while ($stream->{buffer} =~ s/^(.*)\n//) {
            push @{$stream->{lines}}, $1;
        }
    }
    return 1;
}

# The next line of the server's STREAM ('out' or 'err') that matches PATTERN, within $WAIT
# seconds; the lines before it are dropped. Undefined when none came.
sub server_line {
    my ($server, $stream, $pattern) = @_;
    my $deadline = time + $WAIT;
    while (1) {
        while (defined(my $line = shift @{$server->{$stream}{lines}})) {
            return $line if $line =~ $pattern;
        }
        return undef if time >= $deadline || !_read_server($server, $deadline);
    }
}

# The lines of the server's standard output up to one matching PATTERN (not included); undefined
# when that line did not come within $WAIT seconds.
sub server_lines_until {
    my ($server, $pattern) = @_;
    my @lines;
    my $deadline = time + $WAIT;
    while (1) {
        while (defined(my $line = shift @{$server->{out}{lines}})) {
            return \@lines if $line =~ $pattern;
            push @lines, $line;
        }
        return undef if time >= $deadline || !_read_server($server, $deadline);
    }
}

# Ends the server by its pid: SIGTERM, and SIGKILL if it has not ended within $WAIT seconds.
sub stop_server {
    my ($server) = @_;
    return if !$server->{pid};
    kill('TERM', $server->{pid});
    my $deadline = time + $WAIT;
    while (waitpid($server->{pid}, WNOHANG) == 0) {
        if (time >= $deadline) {
            kill('KILL', $server->{pid});
            waitpid($server->{pid}, 0);
            last;
        }
        select(undef, undef, undef, 0.02);
    }
    $server->{pid} = 0;
    close($server->{stdin});
}

END {
    my $status = $?;
    stop_server($_) for @servers;
    $? = $status;
}

# Runs COMMAND (an array) with ENV changed in the environment (an undefined value removes the
# variable), in DIR when given, its standard input the file STDIN when given (else /dev/null);
# returns its standard output, standard error and exit code. A run that outlasts 2 * $WAIT
# seconds is killed and reported with exit code -1.
sub run_program {
    my ($command, %options) = @_;
    pipe(my $out_read, my $out_write) or die "pipe: $!";
    pipe(my $err_read, my $err_write) or die "pipe: $!";
    my $pid = fork() // die "fork: $!";
    if ($pid == 0) {
        close($_) for $out_read, $err_read;
        chdir($options{dir}) or POSIX::_exit(127) if $options{dir};
        while (my ($name, $value) = each %{$options{env} // {}}) {
            if (defined $value) { $ENV{$name} = $value } else { delete $ENV{$name} }
        }
        open(STDIN, '<', $options{stdin} // '/dev/null') or POSIX::_exit(127);
        open(STDOUT, '>&', $out_write) or POSIX::_exit(127);
        open(STDERR, '>&', $err_write) or POSIX::_exit(127);
        exec(@$command) or POSIX::_exit(127);
    }
    close($_) for $out_write, $err_write;
    my %text = (out => '', err => '');
    my %name = (fileno($out_read) => 'out', fileno($err_read) => 'err');
    my $select = IO::Select->new($out_read, $err_read);
    my $deadline = time + 2 * $WAIT;
    while ($select->count && time < $deadline) {
        for my $fh ($select->can_read($deadline - time)) {
            my $bytes;
            if (!sysread($fh, $bytes, 65536)) {
                $select->remove($fh);
                next;
            }
            $text{$name{fileno($fh)}} .= $bytes;
        }
    }
    my $timed_out = $select->count > 0;
    kill('KILL', $pid) if $timed_out;
    waitpid($pid, 0);
    return {%text, code => $timed_out ? -1 : $? & 127 ? 128 + ($? & 127) : $? >> 8};
}

# dazoroz-send to the server at 127.0.0.1:PORT with its own time-out, in a fresh settings
# directory and working directory: ARGS are the recipients and further options, after an
# optional hash of environment variables. No password comes from the environment unless given.
sub send_page {
    my ($program, $port, @args) = @_;
    my $env = ref $args[0] eq 'HASH' ? shift @args : {};
    my $dir = scratch_dir();
    return run_program([$program, '--server', '127.0.0.1', '--port', $port, '--timeout', $WAIT,
                        @args], dir => "$dir", env => {WINDIR => "$dir", DAZOROZ_PASSWORD => undef, %$env});
}

sub check {
    my ($name, $got, $want) = @_;
    ++$checks;
    $got //= '(nothing)';
    if ($got eq $want) {
        print "ok $checks - $name\n";
        return 1;
    }
    ++$failures;
    print "not ok $checks - $name\n  got:\n", $got =~ s/^/    /gmr, "\n  expected:\n",
      $want =~ s/^/    /gmr, "\n";
    return 0;
}

sub done_testing {
    print "$checks checks, $failures failed\n";
    exit($failures || !$checks ? 1 : 0);
}

1;
